// A shared library that loads fine but is no CLAP plug-in: no clap_entry.
extern "C" __attribute__((visibility("default"))) int not_a_plugin() {
    return 1;
}
