#include "orba/clap/wrapper.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace orba::clap {

std::string c_string(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '\0') out += c;
    }
    return out;
}

Descriptor::Descriptor(const Config& config) {
    // Reserved up front: the pointers below must not move with a reallocation.
    strings.reserve(7 + config.features.size());
    for (std::string_view text : {config.id, config.name, config.vendor, config.url, config.version,
                                  config.description, std::string_view{}}) {
        strings.push_back(c_string(text));
    }
    for (std::string_view feature : config.features)
        strings.push_back(c_string(feature));
    features.reserve(config.features.size() + 1);
    for (std::size_t i = 7; i < strings.size(); ++i)
        features.push_back(strings[i].c_str());
    features.push_back(nullptr);
    raw.clap_version = abi::CLAP_VERSION;
    raw.id = strings[0].c_str();
    raw.name = strings[1].c_str();
    raw.vendor = strings[2].c_str();
    raw.url = strings[3].c_str();
    raw.version = strings[4].c_str();
    raw.description = strings[5].c_str();
    raw.manual_url = strings[6].c_str();
    raw.support_url = strings[6].c_str();
    raw.features = features.data();
}

const abi::clap_plugin_descriptor* Registry::descriptor() {
    std::call_once(once_, [this] { descriptor_ = std::make_unique<Descriptor>(*config_); });
    return &descriptor_->raw;
}

bool entry_init(Registry& registry, const char*) noexcept {
    registry.descriptor();
    return true;
}

const void* entry_get_factory(const abi::clap_plugin_factory& factory,
                              const char* factory_id) noexcept {
    return abi::is_id(factory_id, abi::CLAP_PLUGIN_FACTORY_ID) ? &factory : nullptr;
}

const abi::clap_plugin_descriptor* factory_descriptor(Registry& registry,
                                                      std::uint32_t index) noexcept {
    return index == 0 ? registry.descriptor() : nullptr;
}

bool accepts(const Registry& registry, const abi::clap_host* host, const char* plugin_id) noexcept {
    return host != nullptr && plugin_id != nullptr &&
           abi::clap_version_is_compatible(host->clap_version) &&
           std::string_view(plugin_id) == registry.config().id;
}

}  // namespace orba::clap
