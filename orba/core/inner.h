#pragma once

#include <cstdint>
#include <memory>

#include "orba/core/param.h"
#include "orba/core/plugin.h"

namespace orba {

// The plug-in as a host wrapper holds it, whatever its type. The wrappers are
// compiled once for every plug-in: only the factory knows the concrete type,
// and it hands the wrapper an Adapter. A wrapper that drives more of the
// contract than this extends Inner with its own calls, after these.
class Inner {
  public:
    virtual ~Inner() = default;
    virtual Layout layout() const = 0;
    virtual std::shared_ptr<ParamSet> params() const = 0;
    virtual void prepare(const ProcessSetup& setup) = 0;
    virtual void process(Buffers buffers, const ProcessContext& context) = 0;
    virtual std::uint32_t latency() = 0;
    virtual std::uint32_t tail() = 0;
};

// Base (Inner, or a wrapper's extension of it) for any default-constructible
// type implementing the plug-in contract, which it holds by value. A wrapper's
// extension derives from this and forwards its own calls to `plugin_`.
template <class P, class Base = Inner>
class Adapter : public Base {
  public:
    Layout layout() const override { return plugin_.layout(); }
    std::shared_ptr<ParamSet> params() const override { return plugin_.params(); }
    void prepare(const ProcessSetup& setup) override { plugin_.prepare(setup); }
    void process(Buffers buffers, const ProcessContext& context) override {
        plugin_.process(buffers, context);
    }
    std::uint32_t latency() override { return plugin_.latency_samples(); }
    std::uint32_t tail() override { return plugin_.tail_samples(); }

  protected:
    P plugin_;
};

}  // namespace orba
