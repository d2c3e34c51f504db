#pragma once

#include <memory>

#include "fuzz/tidal_tremolo.h"
#include "orba/clap/abi.h"
#include "orba/clap/wrapper.h"
#include "tests/clap/probe_plugin.h"
#include "varnel-delay/varnel_delay.h"

// An in-process CLAP host for the fuzz targets: it offers the params and
// latency extensions (or none) and answers every request by doing nothing,
// so a run exercises only the plug-in side.
namespace orba::fuzz {

namespace abi = orba::clap::abi;

struct ClapHost {
    explicit ClapHost(bool offer_extensions) : offer(offer_extensions) {
        host.clap_version = abi::CLAP_VERSION;
        host.host_data = this;
        host.name = "fuzz";
        host.vendor = "";
        host.url = "";
        host.version = "1";
        host.get_extension = [](const abi::clap_host* h, const char* id) -> const void* {
            const auto* self = static_cast<const ClapHost*>(h->host_data);
            if (!self->offer) return nullptr;
            if (abi::is_id(id, abi::CLAP_EXT_PARAMS)) return &self->params;
            if (abi::is_id(id, abi::CLAP_EXT_LATENCY)) return &self->latency;
            return nullptr;
        };
        host.request_restart = [](const abi::clap_host*) {};
        host.request_process = [](const abi::clap_host*) {};
        host.request_callback = [](const abi::clap_host*) {};
        params.rescan = [](const abi::clap_host*, abi::clap_param_rescan_flags) {};
        params.clear = [](const abi::clap_host*, abi::clap_id, abi::clap_param_clear_flags) {};
        params.request_flush = [](const abi::clap_host*) {};
        latency.changed = [](const abi::clap_host*) {};
    }
    ClapHost(const ClapHost&) = delete;
    ClapHost& operator=(const ClapHost&) = delete;

    bool offer;
    abi::clap_host host{};
    abi::clap_host_params params{};
    abi::clap_host_latency latency{};
};

// The test probe (per-channel, choice, toggle and meter parameters, a
// latency the host moves) or one of the shipped plug-ins.
enum class ClapKind { Probe, Varnel, Tidal };

// A plug-in created and initialised through the wrapper, destroyed with it.
class ClapPlugin {
  public:
    ClapPlugin(ClapKind kind, const abi::clap_host* host) {
        static const clap::Descriptor probe_descriptor(test::PROBE_CONFIG);
        static const clap::Descriptor varnel_descriptor(clap::Config{.id = "varnel"});
        static const clap::Descriptor tidal_descriptor(clap::Config{.id = "tidal"});
        switch (kind) {
            case ClapKind::Probe:
                plugin_ = clap::Wrapper::create(&probe_descriptor.raw, host,
                                                std::make_unique<clap::Adapter<test::Probe>>());
                break;
            case ClapKind::Varnel:
                plugin_ = clap::Wrapper::create(&varnel_descriptor.raw, host,
                                                std::make_unique<clap::Adapter<VarnelDelay>>());
                break;
            case ClapKind::Tidal:
                plugin_ = clap::Wrapper::create(&tidal_descriptor.raw, host,
                                                std::make_unique<clap::Adapter<TidalTremolo>>());
                break;
        }
        if (!plugin_->init(plugin_)) __builtin_trap();
    }
    ClapPlugin(bool probe, const abi::clap_host* host)
        : ClapPlugin(probe ? ClapKind::Probe : ClapKind::Varnel, host) {}
    ~ClapPlugin() { plugin_->destroy(plugin_); }
    ClapPlugin(const ClapPlugin&) = delete;
    ClapPlugin& operator=(const ClapPlugin&) = delete;

    const abi::clap_plugin* get() const { return plugin_; }
    template <class T>
    const T* extension(const char* id) const {
        const auto* table = static_cast<const T*>(plugin_->get_extension(plugin_, id));
        if (table == nullptr) __builtin_trap();
        return table;
    }

  private:
    const abi::clap_plugin* plugin_;
};

}  // namespace orba::fuzz
