// The UPS record in the protocol's standard variable names: the values a monitoring client reads.
// A value the UPS does not report (empty, "&" not available, "@" overrange, a text that is no number
// where one is due) is left out, never filled with a number of our own.
//
// Pure functions of the records, callable from any thread on records it owns.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "server/records/setup_data.h"
#include "server/ups/ups_data.h"

namespace keep::server::nut {

struct NutVariable {
  std::string name;
  std::string value;
  bool number = false;  // a number (GET TYPE answers NUMBER), else a text
};

// What the variables are made of, besides the UPS record.
struct NutSource {
  const TUpsData& ups;
  const TSetupData& setup;  // protocol number, charge estimate, switch-off delays
  bool shutdown_active = false;  // this computer's shutdown is under way (the FSD status word)
  std::string server_version;    // driver.version
};

// Every variable there is a value for, sorted by name.
std::vector<NutVariable> NutVariables(const NutSource& source);

// The words of ups.status: OL / OB / OB LB / OL BYPASS / OFF, then CAL, OVER, RB, ALARM and FSD as
// they apply. Empty when the UPS has not reported where its power comes from.
std::string NutStatusWords(const NutSource& source);

// A short description of a standard variable this server can fill; empty for any other name.
std::string_view NutVariableDescription(std::string_view name);

}  // namespace keep::server::nut
