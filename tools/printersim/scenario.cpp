#include "scenario.h"

#include <sstream>

namespace printersim {

void Scenario::Parse(const std::string& text) {
    values_.clear();
    delays_.clear();
    faults_.clear();
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string first;
        if (!(words >> first)) continue;
        std::string name;
        if (first == "delay") {
            uint32_t ms = 0;
            if (words >> name >> ms) delays_[name] = ms;
        } else if (first == "fault") {
            if (words >> name) faults_[name] = true;
        } else {
            // "Name = values" or "Name=values"
            const size_t eq = line.find('=');
            if (eq == std::string::npos) continue;
            std::istringstream left(line.substr(0, eq));
            left >> name;
            std::istringstream right(line.substr(eq + 1));
            Values v;
            long value;
            while (right >> value) v.values.push_back(value);
            if (!name.empty()) values_[name] = v;
        }
    }
}

long Scenario::Next(const std::string& name) {
    auto it = values_.find(name);
    if (it == values_.end() || it->second.values.empty()) return 0;
    Values& v = it->second;
    const long value = v.values[v.next];
    if (v.next + 1 < v.values.size()) ++v.next;
    return value;
}

uint32_t Scenario::DelayMs(const std::string& name) const {
    auto it = delays_.find(name);
    return it == delays_.end() ? 0 : it->second;
}

bool Scenario::Faults(const std::string& name) const { return faults_.count(name) != 0; }

}  // namespace printersim
