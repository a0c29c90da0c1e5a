#include "support/batch_runner.hpp"

#include "support/fixtures.hpp"

#include <sys/wait.h>
#include <cstdlib>

namespace quillan::test {

namespace {
std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q.append("'\\''");
        else q.push_back(c);
    }
    q.push_back('\'');
    return q;
}
}  // namespace

BatchResult run_batch(const std::vector<std::string>& args) { return run_program(QUILLAN_BATCH_EXE, args); }

BatchResult run_program(const std::string& program, const std::vector<std::string>& args) {
    TempDir dir;
    std::string cmd = quote(program);
    for (const auto& a : args) {
        cmd += ' ';
        cmd += quote(a);
    }
    cmd += " >";
    cmd += quote(dir.file("out"));
    cmd += " 2>";
    cmd += quote(dir.file("err"));
    BatchResult r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = read_bytes(dir.file("out"));
    r.err = read_bytes(dir.file("err"));
    return r;
}

std::vector<std::string> plethodon_run(const std::string& action, const std::vector<std::string>& more) {
    std::vector<std::string> args{action, "-l", data_file("plethodon.lm.txt"), "-g", data_file("plethodon.species.groups.txt")};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

}  // namespace quillan::test
