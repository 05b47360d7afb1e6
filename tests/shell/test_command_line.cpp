// The command line: options, each address form, the faults refused with one
// line and status 2; and the real binary run for --help, --version and an
// unknown option, on pipes and on a terminal, which it must leave untouched.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "shell/command_line.h"

namespace {

CommandLine parse(std::vector<const char*> args) {
    args.insert(args.begin(), "kivo");
    CommandLine out;
    parse_command_line((int)args.size(), args.data(), &out);
    return out;
}

TEST(CommandLineOptions, HelpVersionAndNothing) {
    EXPECT_EQ(parse({}).action, COMMAND_RUN);
    EXPECT_EQ(parse({}).has_hub, 0);
    EXPECT_EQ(parse({"--help"}).action, COMMAND_HELP);
    EXPECT_EQ(parse({"-h"}).action, COMMAND_HELP);
    EXPECT_EQ(parse({"--version"}).action, COMMAND_VERSION);
    EXPECT_EQ(parse({"-V"}).action, COMMAND_VERSION);
    // Help wins over the version and over whatever else stands beside it.
    EXPECT_EQ(parse({"--version", "--help"}).action, COMMAND_HELP);
    EXPECT_EQ(parse({"hub.example", "--version"}).action, COMMAND_VERSION);
    EXPECT_EQ(parse({"--bogus", "--help"}).action, COMMAND_HELP);
    EXPECT_NE(std::string(command_help_text()).find("Favorites.xml"), std::string::npos);
    EXPECT_EQ(std::string(command_version_text()), "kivo " KIVO_VERSION_TEXT "\n");
}

TEST(CommandLineOptions, UnknownOptionIsOneLineWithTheOptionNamed) {
    for (const char* option : {"--bogus", "-x", "--help=yes", "-hV"}) {
        CommandLine c = parse({option});
        EXPECT_EQ(c.action, COMMAND_ERROR) << option;
        EXPECT_EQ(std::string(c.error), std::string("kivo: unknown option: ") + option + " (see kivo --help)");
    }
    // "--" ends the options: what follows is an address, even with a dash.
    CommandLine c = parse({"--", "-hub"});
    EXPECT_EQ(c.action, COMMAND_ERROR);
    EXPECT_STREQ(c.error, "kivo: not a hub address: -hub (see kivo --help)");
    EXPECT_EQ(parse({"--", "hub.example"}).has_hub, 1);
}

TEST(CommandLineOptions, RefusedArgumentCarriesNoControlBytesAndIsCut) {
    CommandLine c = parse({"--\x1b[2Jx\ny"});
    ASSERT_EQ(c.action, COMMAND_ERROR);
    EXPECT_STREQ(c.error, "kivo: unknown option: --?[2Jx?y (see kivo --help)");
    std::string long_arg(5000, 'h');
    c = parse({long_arg.c_str()});
    ASSERT_EQ(c.action, COMMAND_ERROR);
    std::string line = c.error;
    EXPECT_LT(line.size(), (size_t)COMMAND_ERROR_BYTES);
    EXPECT_EQ(line.substr(line.size() - 18), " (see kivo --help)");
}

struct Form {
    const char* text;
    const char* host;
    const char* port;
    int tls;
    const char* keyprint;
};

TEST(CommandLineAddress, EachFormGivesHostPortAndTls) {
    const std::string kp = "SHA256/" + std::string(52, 'A');
    std::string with_kp = "nmdcs://hub.example:2228?kp=sha256/" + std::string(52, 'a');
    const Form forms[] = {
        {"hub.example", "hub.example", "411", 0, ""},
        {"hub.example:4111", "hub.example", "4111", 0, ""},
        {"dchub://hub.example", "hub.example", "411", 0, ""},
        {"DCHUB://127.0.0.1:2225", "127.0.0.1", "2225", 0, ""},
        {"nmdc://my_hub-1.example:65535", "my_hub-1.example", "65535", 0, ""},
        {"nmdcs://hub.example", "hub.example", "411", 1, ""},
        {"nmdcs://hub.example:1", "hub.example", "1", 1, ""},
        {with_kp.c_str(), "hub.example", "2228", 1, kp.c_str()},
    };
    for (const Form& f : forms) {
        CommandLine c = parse({f.text});
        ASSERT_EQ(c.action, COMMAND_RUN) << f.text << ": " << c.error;
        ASSERT_EQ(c.has_hub, 1) << f.text;
        EXPECT_STREQ(c.hub.host, f.host) << f.text;
        EXPECT_STREQ(c.hub.port, f.port) << f.text;
        EXPECT_EQ(c.hub.tls, f.tls) << f.text;
        EXPECT_STREQ(c.hub.keyprint, f.keyprint) << f.text;
    }
}

TEST(CommandLineAddress, MalformedAddressesAreRefusedNotGuessed) {
    std::string long_host(HUB_HOST_BYTES - 1, 'h');  // fills the field: may have been cut
    std::string short_kp = "nmdcs://hub.example?kp=SHA256/" + std::string(51, 'A');
    const char* bad[] = {
        "dchub://",          // a scheme with nothing after it
        "nmdcs://",
        "http://hub.example",  // no scheme of ours: "http" with port "//hub.example"
        "hub.example:",      // an empty port
        "hub.example:0",
        "hub.example:65536",
        "hub.example:4x1",
        "hub.example:123456",
        ":411",              // no host
        "hub example",
        "hub.example/path",
        "hub.example?kp=nonsense",
        short_kp.c_str(),
        long_host.c_str(),
        "",
        "h\xc3\xa9.example",  // not a host name character
    };
    for (const char* text : bad) {
        HubAddress a;
        EXPECT_EQ(parse_command_address(text, &a), 0) << text;
        EXPECT_STREQ(a.host, "") << text;
        CommandLine c = parse({text});
        EXPECT_EQ(c.action, COMMAND_ERROR) << text;
        EXPECT_EQ(c.has_hub, 0) << text;
        EXPECT_EQ(std::string(c.error).rfind("kivo: not a hub address: ", 0), 0u) << c.error;
    }
    std::string longest(HUB_HOST_BYTES - 2, 'h');
    HubAddress a;
    EXPECT_EQ(parse_command_address(longest.c_str(), &a), 1) << "the longest host that fits";
}

TEST(CommandLineAddress, SecondAddressIsRefused) {
    CommandLine c = parse({"one.example", "two.example"});
    EXPECT_EQ(c.action, COMMAND_ERROR);
    EXPECT_STREQ(c.error, "kivo: only one hub address may be given: two.example (see kivo --help)");
}

// --- The real binary -------------------------------------------------------------

struct ProcessRun {
    int status = -1;  // the exit status, or -1 when it did not exit by itself
    std::string out;
    std::string err;
};

// Reads every fd until all are closed, at most ten seconds in all.
void drain(std::vector<std::pair<int, std::string*>> fds) {
    for (int rounds = 0; rounds < 100 && !fds.empty(); rounds++) {
        std::vector<pollfd> p;
        for (auto& f : fds) p.push_back({f.first, POLLIN, 0});
        if (poll(p.data(), p.size(), 100) <= 0) continue;
        for (size_t i = p.size(); i-- > 0;) {
            if (p[i].revents == 0) continue;
            char buf[4096];
            ssize_t n = read(fds[i].first, buf, sizeof buf);
            if (n > 0) {
                fds[i].second->append(buf, (size_t)n);
            } else {
                close(fds[i].first);
                fds.erase(fds.begin() + (long)i);
            }
        }
    }
    for (auto& f : fds) close(f.first);
}

int reap(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 100; i++) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        usleep(50 * 1000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

// The binary with its output on pipes and its input from /dev/null.
ProcessRun run_on_pipes(const char* arg) {
    int out[2], err[2];
    ProcessRun r;
    if (pipe(out) != 0 || pipe(err) != 0) return r;
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        execl(KIVO_BINARY, "kivo", arg, (char*)nullptr);
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    drain({{out[0], &r.out}, {err[0], &r.err}});
    r.status = reap(pid);
    return r;
}

// The binary on a terminal of its own (all three streams): what it wrote.
ProcessRun run_on_terminal(const char* arg) {
    ProcessRun r;
    int master = -1;
    winsize size = {24, 80, 0, 0};
    pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0) return r;
    if (pid == 0) {
        execl(KIVO_BINARY, "kivo", arg, (char*)nullptr);
        _exit(127);
    }
    // The terminal's end reports EIO once the child has closed its side.
    drain({{master, &r.out}});
    r.status = reap(pid);
    return r;
}

TEST(CommandLineBinary, HelpAndVersionOnStdoutWithStatusZero) {
    ProcessRun help = run_on_pipes("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, command_help_text());
    EXPECT_EQ(help.err, "");
    ProcessRun version = run_on_pipes("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "kivo " KIVO_VERSION_TEXT "\n");
    EXPECT_EQ(version.err, "");
}

TEST(CommandLineBinary, UnknownOptionAndBadAddressOneLineOnStderrStatusTwo) {
    for (const char* arg : {"--bogus", "dchub://"}) {
        ProcessRun r = run_on_pipes(arg);
        EXPECT_EQ(r.status, COMMAND_EXIT_USAGE) << arg;
        EXPECT_EQ(r.out, "") << arg;
        ASSERT_FALSE(r.err.empty()) << arg;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_EQ(r.err.rfind("kivo: ", 0), 0u) << r.err;
    }
}

TEST(CommandLineBinary, OnATerminalNothingButTheTextIsWritten) {
    for (const char* arg : {"--help", "--version", "--bogus"}) {
        ProcessRun r = run_on_terminal(arg);
        EXPECT_EQ(r.status, strcmp(arg, "--bogus") == 0 ? COMMAND_EXIT_USAGE : 0) << arg;
        EXPECT_FALSE(r.out.empty()) << arg;
        EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << arg << ": a terminal escape was written";
    }
    // The terminal turns each "\n" into "\r\n".
    ProcessRun version = run_on_terminal("--version");
    EXPECT_EQ(version.out, "kivo " KIVO_VERSION_TEXT "\r\n");
}

}  // namespace
