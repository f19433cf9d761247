// What the simulated printer answers, from a scenario file of lines
//
//     Name = v1 v2 v3      each call or read of Name takes the next value; the last repeats
//     delay Name ms        every call or read of Name takes that long first
//     fault Name           every call or read of Name raises a control error
//     # comment
//
// Names are the control's member names (RequestStatus, PrintLabel, Status,
// RulVoltage, ...). Unscripted names answer 0. Portable: no Windows headers.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace printersim {

class Scenario {
public:
    // Replaces the whole scenario with the text of a file.
    void Parse(const std::string& text);

    long Next(const std::string& name);
    uint32_t DelayMs(const std::string& name) const;
    bool Faults(const std::string& name) const;

private:
    struct Values {
        std::vector<long> values;
        size_t next = 0;
    };
    std::map<std::string, Values> values_;
    std::map<std::string, uint32_t> delays_;
    std::map<std::string, bool> faults_;
};

}  // namespace printersim
