// The fixed texts of the console's status screens: UPS status, anomaly, calibration state, the
// faulty stages of the hardware diagnosis and the event texts of the standard event list. Pure
// functions, callable from any thread.
#pragma once

#include <string>
#include <string_view>

namespace keep::console {

// Field 1 of answers 101 (modular false) and 131 (modular true, which adds "5" and "6").
std::string UpsStatusText(std::string_view value, bool modular);
// The current anomaly (field 2 of answers 101 and 131).
std::string AnomalyText(std::string_view value);
// The autonomy calibration test state (field 7 of answer 101).
std::string CalibrationText(std::string_view value);
// The faulty type of answer 108 with the number of faulty modules: marks of the type as usual,
// "None" when both are "0", else the stage name of the index 0-17, else "???".
std::string FaultyTypeText(std::string_view faulty_modules, std::string_view faulty_type);
// The stage name of index 0-17 ("Inverter & Booster" for 5); "???" outside.
std::string StageName(int index);
// The text of event code 1-39 of the standard event list; "Unknown" for anything else.
std::string EventText(std::string_view code);

}  // namespace keep::console
