#include "status_text.h"

#include <cstdarg>
#include <cstdio>

#include "common/cp1251.h"

namespace tq::lmt {

std::optional<std::string> StatusText(long status) {
    switch (status) {
    case 0: return tq::Cp("Ошибок нет");
    case 1: return tq::Cp("Нет бумаги");
    case 2: return tq::Cp("Этикетка не спозиционирована");
    case 3: return tq::Cp("Поднят рычаг прижима");
    case 4: return tq::Cp("Не снята отпечатанная этикетка");
    case 5: return tq::Cp("Перегрев печатной головки");
    case 6: return tq::Cp("Перегрев печатной головки во время печати");
    case 9: return tq::Cp("Печать прервана / неполная печать");
    case 10: return tq::Cp("Буфер не заполнен");
    case 11: return tq::Cp("Ошибка схемы питания принтера");
    default: return std::nullopt;
    }
}

std::string NoLinkText() { return tq::Cp("Нет связи"); }

std::string Format(const std::string& format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format.c_str(), args);
    va_end(args);
    if (n < 0) return std::string();
    return std::string(buffer, static_cast<size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
}

}  // namespace tq::lmt
