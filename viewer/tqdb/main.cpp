#include <cstdio>
#include <string>
#include <vector>

#include "common/cp1251.h"
#include "tqdb.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(tq::WideToUtf8(argv[i]));
    LocalFree(argv);
    SetConsoleOutputCP(CP_UTF8);
    // RunTqdb's bytes as they are: in text mode the C runtime puts a CR before
    // every LF, a value's own CR LF included.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
#endif
    std::string out, err;
    const int rc = tq::viewer::RunTqdb(args, &out, &err);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fwrite(err.data(), 1, err.size(), stderr);
    return rc;
}
