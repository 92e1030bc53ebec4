// The parameter side every effect shares: the client thread checks and publishes whole
// records; the render thread picks up the newest one at the start of a block and glides
// towards it.
#pragma once

#include "platform/music/dsp/effect.h"
#include "platform/music/dsp/effect_catalogue.h"
#include "platform/music/dsp/param_mailbox.h"

namespace orvan::music::dsp {

// The DSP class that runs a record's effect: each effect's header names its own, so that
// the effect objects can be made for every catalogued record.
template <class Record>
struct EffectFor;

template <class Record>
class ParameterizedEffect : public Effect {
 public:
  // Client thread: checks `params`; unless refused, they become the effect's parameters
  // (possibly clamped, see check_record) and the sound glides to them.
  RangeCheck set_params(const Record& params) noexcept {
    Record checked = params;
    const RangeCheck result = check_record(checked, sample_rate_);
    if (result == RangeCheck::refused) return result;
    client_params_ = checked;
    mailbox_.publish(checked);
    return result;
  }

  // Client thread: the parameters last accepted (the defaults for a new effect).
  const Record& params() const noexcept { return client_params_; }

  double sample_rate() const noexcept { return sample_rate_; }

 protected:
  explicit ParameterizedEffect(double sample_rate)
      : sample_rate_(sample_rate),
        client_params_(defaults_for(sample_rate)),
        target_(client_params_),
        mailbox_(client_params_) {}

  // The defaults as set_params would accept them at this rate: a frequency the rate cannot
  // carry is clamped before any filter is designed from it.
  static Record defaults_for(double sample_rate) noexcept {
    Record record = default_record<Record>();
    check_record(record, sample_rate);
    return record;
  }

  // Render thread only: takes the newest published record into target(), if any.
  bool fetch_target() noexcept { return mailbox_.fetch(target_); }
  const Record& target() const noexcept { return target_; }

 private:
  double sample_rate_;
  Record client_params_;  // client thread
  Record target_;         // render thread
  ParamMailbox<Record> mailbox_;
};

}  // namespace orvan::music::dsp
