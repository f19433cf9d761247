// Another program's write transaction on an SQLite file, through the sqlite3
// shell (a second process, as the scale's program would be): it inserts rows,
// says so, holds its write lock a while, then commits. POSIX only.
#pragma once
#ifndef _WIN32
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tq::viewer::test {

class OtherWriter {
public:
    OtherWriter(const std::string& path, int firstCode, int rows, const char* hold) {
        const std::string insert = "INSERT INTO FieldsTable(s00) WITH RECURSIVE n(x) AS (SELECT " +
                                   std::to_string(firstCode) + " UNION ALL SELECT x+1 FROM n WHERE x<" +
                                   std::to_string(firstCode + rows - 1) + ") SELECT x FROM n;";
        const std::string command = "sqlite3 '" + path + "' '.timeout 5000' 'BEGIN IMMEDIATE;' '" + insert +
                                    "' '.print locked' '.shell sleep " + hold + "' 'COMMIT;'";
        pipe_ = popen(command.c_str(), "r");
        char line[32] = {};
        locked_ = pipe_ && std::fgets(line, sizeof line, pipe_) && std::string(line) == "locked\n";
    }
    ~OtherWriter() { Finish(); }
    static bool Available() { return std::system("sqlite3 -version >/dev/null 2>&1") == 0; }
    bool locked() const { return locked_; }
    bool Finish() {
        if (!pipe_) return false;
        const int status = pclose(pipe_);
        pipe_ = nullptr;
        return status == 0;
    }

private:
    FILE* pipe_ = nullptr;
    bool locked_ = false;
};

}  // namespace tq::viewer::test
#endif
