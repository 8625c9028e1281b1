// A scripted UPS for tests of the manager and of what drives it: a link that records what is sent
// (with the manual-clock time of each send) and a driver whose exchanges are a script per code.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "server/ups/protocol_driver.h"
#include "server/ups/ups_link.h"
#include "server/ups/ups_manager.h"

namespace keep::test {

// What the manager sent, with the clock time of each send.
struct LinkRecord {
  std::vector<std::pair<int64_t, std::string>> sent;
  int opens = 0;
  bool freed = false;
  // Everything sent, in order.
  std::string Sent() const;
  // The last text sent, empty when nothing was.
  std::string Last() const;
};

class ScriptedLink final : public server::UpsLink {
 public:
  // `record` and `clock` must outlive the link.
  ScriptedLink(LinkRecord& record, const platform::MonotonicClock& clock, bool reopens)
      : record_(record), clock_(clock), reopens_(reopens) {}
  int Create(const server::TSetupData&, server::TLogger*) override { return 0; }
  int Open() override;
  void Send(std::string_view text) override;
  void Free() override { record_.freed = true; }
  bool ReopensOnWakeUp() const override { return reopens_; }

 private:
  LinkRecord& record_;
  const platform::MonotonicClock& clock_;
  bool reopens_;
};

// Each code runs the queries of its script, one exchange each, sent as the query and a carriage
// return; a code without a script queues nothing (the manager answers it at once). The query "T"
// expects no reply and is followed by a 12 s delay; every other query expects "ok-<query>" and a
// carriage return within 500 ms. The wake-up text is one carriage return.
class ScriptedDriver final : public server::ProtocolDriver {
 public:
  std::string Init(server::DriverContext&) override;
  bool BuildCommand(server::DriverContext& c) override;
  void BuildNext(server::DriverContext& c, uint8_t& expect_reply, int32_t& delay_ms) override;
  bool Parse(server::DriverContext& c, std::string& buffer) override;

  std::map<int32_t, TStringList> scripts{{100, {"A", "B"}}, {7, {"T", "A"}}};
  int inits = 0;
};

// Makes `manager` create a ScriptedLink recording into `record` and, unless `with_driver` is false,
// a ScriptedDriver whose address is stored in `*driver` (when `driver` is not null). `record`,
// `clock` and `driver` must outlive the manager's link.
void UseScriptedUps(server::UpsManager& manager, LinkRecord& record, const platform::MonotonicClock& clock,
                    ScriptedDriver** driver, bool with_driver = true, bool reopens = false);

// The reply that completes the exchange whose frame `sent` is ("Q\r" -> "ok-Q\r").
std::string ReplyTo(const std::string& sent);

}  // namespace keep::test
