// A SerialLink over a byte string, with the exchange's habit of dropping what
// a short read got.
#pragma once
#include <deque>
#include <string>
#include <vector>

#include "kbdriver/core/protocol.h"

namespace tq::kb {

struct FakeLink : SerialLink {
    std::string stream;                // bytes waiting on the line
    std::deque<std::string> replies;   // appended to the stream after each "1" sent
    std::vector<std::string> sent;
    bool sendWorks = true;
    int received = 0;

    bool Receive(uint8_t count, std::string& text) override {
        ++received;
        if (stream.size() < count) {
            stream.clear();
            return false;
        }
        text = stream.substr(0, count);
        stream.erase(0, count);
        return true;
    }
    bool Send(const std::string& text) override {
        if (!sendWorks) return false;
        sent.push_back(text);
        stream.clear();  // the exchange purges before it writes
        if (!replies.empty()) {
            stream += replies.front();
            replies.pop_front();
        }
        return true;
    }
};

}  // namespace tq::kb
