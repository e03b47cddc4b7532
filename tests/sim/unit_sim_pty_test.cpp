// Runs the real vkt5-unit-sim binary and talks to it through its pseudo-terminal, as the utility
// would: read the identification, answer, erase, program a few records.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim_test_support.h"

namespace vkt5::sim {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::joinLines;
using testing::smallImageLines;
using std::string_literals::operator""s;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One simulator process; stopped by its PID if the test did not see it end.
class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> args) {
        int out[2];
        if (pipe(out) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv;
            static std::string program = VKT5_UNIT_SIM;
            argv.push_back(program.data());
            for (std::string& arg : args) {
                argv.push_back(arg.data());
            }
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        // The first line on standard output is the terminal's path.
        char c = 0;
        while (read(out[0], &c, 1) == 1 && c != '\n') {
            slavePath_ += c;
        }
        close(out[0]);
    }
    ~SimProcess() {
        if (pid_ > 0 && !exitStatus_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    const std::string& slavePath() const { return slavePath_; }
    pid_t pid() const { return pid_; }
    void signal(int number) { kill(pid_, number); }

    // The exit status, or nothing if it is still running after `limit`.
    std::optional<int> waitExit(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (!exitStatus_ && Clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        return exitStatus_;
    }

  private:
    pid_t pid_ = -1;
    std::string slavePath_;
    std::optional<int> exitStatus_;
};

// The program's side of the port.
class Port {
  public:
    explicit Port(const std::string& path) { open(path); }
    ~Port() { close(); }

    void open(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        received_.clear();
    }
    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void send(const std::string& bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads until what arrived since the last call ends with `tail`; returns all of it.
    std::string readUntilEnd(const std::string& tail) {
        const auto end = Clock::now() + std::chrono::seconds(3);
        while (!received_.ends_with(tail) && Clock::now() < end) {
            pollfd fd{fd_, POLLIN, 0};
            if (poll(&fd, 1, 50) <= 0) {
                continue;
            }
            char buffer[512];
            const ssize_t got = read(fd_, buffer, sizeof buffer);
            if (got > 0) {
                received_.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EAGAIN) {
                break;  // the simulator has gone
            }
        }
        std::string all = std::move(received_);
        received_.clear();
        return all;
    }

  private:
    int fd_ = -1;
    std::string received_;
};

// Run time of every thread of a process, in nanoseconds.
std::uint64_t cpuNanoseconds(pid_t pid) {
    std::uint64_t total = 0;
    const fs::path tasks = fs::path("/proc") / std::to_string(pid) / "task";
    for (const auto& task : fs::directory_iterator(tasks)) {
        std::uint64_t ran = 0;
        std::ifstream(task.path() / "schedstat") >> ran;
        total += ran;
    }
    return total;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t found = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++found;
    }
    return found;
}

class UnitSimPtyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vkt5_sim_test_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::ofstream(dir_ / "image.hex", std::ios::binary) << joinLines(smallImageLines());
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Answers the identification and walks the dialogue up to the first "*".
    static void reachProgramming(Port& port) {
        EXPECT_TRUE(port.readUntilEnd("VKT5\r\n").ends_with("VKT5\r\n"));
        port.send("Y");
        EXPECT_TRUE(port.readUntilEnd("VKT5 V1.001\r\n").ends_with("VKT5 V1.001\r\n"));
        const std::vector<std::pair<std::string, std::string>> exchange = {
            {"Y", "E or P?\r\n"}, {"E", "Erased\r\n"}, {"Y", "E or P?\r\n"}, {"P", "*"}};
        for (const auto& [letter, answer] : exchange) {
            port.send(letter);
            EXPECT_EQ(port.readUntilEnd(answer), answer) << letter;
        }
    }

    fs::path dir_;
};

TEST_F(UnitSimPtyTest, ShortUploadOverTheTerminal) {
    SimProcess sim({"--link", (dir_ / "port").string(), "--ident-interval", "20", "--report",
                    (dir_ / "report.txt").string(), "--flash-bin", (dir_ / "flash.bin").string(),
                    "--compare-image", (dir_ / "image.hex").string(), "--exit-after-eof",
                    "--exit-after-ms", "10000"});
    ASSERT_TRUE(sim.slavePath().starts_with("/dev/pts/")) << sim.slavePath();
    EXPECT_EQ(fs::read_symlink(dir_ / "port"), sim.slavePath());

    Port port((dir_ / "port").string());
    ASSERT_TRUE(port.isOpen());
    // Raw: no echo, no line editing, no CR/LF translation, no flow control.
    termios tio{};
    const int probe = open(sim.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(tcgetattr(probe, &tio), 0);
    close(probe);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | IXON), 0u);

    reachProgramming(port);
    for (const std::string& line : smallImageLines()) {
        port.send(line + "\r\n");
        EXPECT_EQ(port.readUntilEnd("*"), "*") << line;
    }
    EXPECT_EQ(sim.waitExit(std::chrono::seconds(3)), 0);

    const std::string report = readFile(dir_ / "report.txt");
    for (const char* expected : {"end_reason: eof\n", "records_received: 5\n", "bad_records: 0\n",
                                 "protocol_errors: 0\n", "erased: yes\n", "eof_seen: yes\n",
                                 "flash_matches_image: yes\n", "records_in_order: yes\n"}) {
        EXPECT_NE(report.find(expected), std::string::npos) << expected << "\n" << report;
    }
    EXPECT_EQ(fs::file_size(dir_ / "flash.bin"), 20u);
    EXPECT_FALSE(fs::is_symlink(dir_ / "port"));
}

TEST_F(UnitSimPtyTest, SurvivesThePortBeingClosedAndReopenedAndReportsOnSignal) {
    SimProcess sim({"--ident-interval", "10", "--report", (dir_ / "report.txt").string(),
                    "--exit-after-ms", "10000"});
    Port port(sim.slavePath());
    ASSERT_TRUE(port.isOpen());
    EXPECT_TRUE(port.readUntilEnd("VKT5\r\n").ends_with("VKT5\r\n"));
    for (int round = 0; round < 3; ++round) {
        port.close();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_FALSE(sim.waitExit(std::chrono::milliseconds(0)));
        port.open(sim.slavePath());
        ASSERT_TRUE(port.isOpen());
        EXPECT_TRUE(port.readUntilEnd("VKT5\r\n").ends_with("VKT5\r\n")) << round;
    }
    port.send("Y");
    EXPECT_TRUE(port.readUntilEnd("VKT5 V1.001\r\n").ends_with("VKT5 V1.001\r\n"));
    port.send("X");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.waitExit(std::chrono::seconds(3)), 0);
    const std::string report = readFile(dir_ / "report.txt");
    EXPECT_NE(report.find("end_reason: signal\n"), std::string::npos) << report;
    EXPECT_NE(report.find("protocol_errors: 1\n"), std::string::npos) << report;
    EXPECT_NE(report.find("bytes_received: 2\n"), std::string::npos) << report;
}

TEST_F(UnitSimPtyTest, BaudPaceHoldsThePromptUntilTheRecordHasCrossedTheLine) {
    SimProcess sim({"--baud-pace", "--ident-interval", "20", "--exit-after-ms", "10000"});
    Port port(sim.slavePath());
    reachProgramming(port);
    // 141 bytes in and the one-byte prompt out, 10 bits each at 57600 bit/s.
    const std::string record = ":40" + std::string(134, '0') + "C0";
    ASSERT_EQ(record.size() + 2, 141u);
    const auto sent = Clock::now();
    port.send(record + "\r\n");
    EXPECT_EQ(port.readUntilEnd("*"), "*");
    const auto took = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
    EXPECT_GE(took, 142 * 10 / 57.6);
}

TEST_F(UnitSimPtyTest, HangupAfterNRecordsTakesThePortAway) {
    SimProcess sim({"--hangup-after", "2", "--ident-interval", "20", "--report",
                    (dir_ / "report.txt").string(), "--exit-after-ms", "10000"});
    Port port(sim.slavePath());
    reachProgramming(port);
    const std::vector<std::string> lines = smallImageLines();
    port.send(lines[0] + "\r\n");
    EXPECT_EQ(port.readUntilEnd("*"), "*");
    port.send(lines[1] + "\r\n");
    EXPECT_EQ(sim.waitExit(std::chrono::seconds(3)), 0);
    EXPECT_EQ(port.readUntilEnd("*"), "");
    EXPECT_EQ(write(port.fd(), "x", 1), -1);
    const std::string report = readFile(dir_ / "report.txt");
    EXPECT_NE(report.find("end_reason: hangup\n"), std::string::npos) << report;
    EXPECT_NE(report.find("records_received: 2\n"), std::string::npos) << report;
}

TEST_F(UnitSimPtyTest, ClosingThePortDuringTheUploadEndsTheRunUnderExitOnClose) {
    SimProcess sim({"--exit-on-close", "--ident-interval", "20", "--report",
                    (dir_ / "report.txt").string(), "--exit-after-ms", "10000"});
    Port port(sim.slavePath());
    // Closing before "P" is part of the port scan: the unit keeps waiting.
    port.close();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(sim.waitExit(std::chrono::milliseconds(0)));
    port.open(sim.slavePath());
    reachProgramming(port);
    port.send(smallImageLines()[0] + "\r\n");
    EXPECT_EQ(port.readUntilEnd("*"), "*");
    port.close();
    EXPECT_EQ(sim.waitExit(std::chrono::seconds(3)), 0);
    const std::string report = readFile(dir_ / "report.txt");
    EXPECT_NE(report.find("end_reason: closed\n"), std::string::npos) << report;
    EXPECT_NE(report.find("records_received: 1\n"), std::string::npos) << report;
    EXPECT_NE(report.find("eof_seen: no\n"), std::string::npos) << report;
}

// Every 2 ms really means every 2 ms, with the loop asleep in between: over two seconds nearly
// all 1000 lines arrive, none in bursts, for a small share of a core (a busy loop takes all).
TEST_F(UnitSimPtyTest, IdentificationEveryTwoMillisecondsWithoutBusyLooping) {
    SimProcess sim({"--ident-interval", "2", "--exit-after-ms", "20000"});
    Port port(sim.slavePath());
    ASSERT_TRUE(port.isOpen());
    port.readUntilEnd("VKT5\r\n");
    const std::uint64_t cpuBefore = cpuNanoseconds(sim.pid());
    const auto start = Clock::now();
    std::string received;
    while (Clock::now() - start < std::chrono::seconds(2)) {
        pollfd fd{port.fd(), POLLIN, 0};
        if (poll(&fd, 1, 50) > 0) {
            char buffer[4096];
            const ssize_t got = read(port.fd(), buffer, sizeof buffer);
            ASSERT_GT(got, 0);
            received.append(buffer, static_cast<std::size_t>(got));
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = static_cast<double>(cpuNanoseconds(sim.pid()) - cpuBefore) / 1e9;
    const std::size_t lines = count(received, "VKT5\r\n");
    EXPECT_EQ(received.size(), lines * 6);
    EXPECT_GE(lines, static_cast<std::size_t>(seconds * 500 * 0.6)) << seconds << " s";
    EXPECT_LE(lines, static_cast<std::size_t>(seconds * 500) + 3) << seconds << " s";
    EXPECT_LT(cpu / seconds, 0.25) << cpu << " s of CPU in " << seconds << " s";
}

// The unit unplugged at the question, then plugged in again: the port dies, the link keeps
// pointing at it until the new terminal is renamed over it, and the new unit takes a whole upload.
TEST_F(UnitSimPtyTest, UnpluggedAtTheQuestionComesBackOnANewTerminalBehindTheSameLink) {
    const fs::path link = dir_ / "port";
    SimProcess sim({"--link", link.string(), "--ident-interval", "20", "--hangup-at-question",
                    "100", "--power-up-after", "400", "--units", "2", "--report",
                    (dir_ / "report.txt").string(), "--compare-image",
                    (dir_ / "image.hex").string(), "--exit-after-eof", "--exit-after-ms", "10000"});
    struct stat before {};
    ASSERT_EQ(lstat(link.c_str(), &before), 0);
    {
        Port port(link.string());
        ASSERT_TRUE(port.isOpen());
        EXPECT_TRUE(port.readUntilEnd("VKT5\r\n").ends_with("VKT5\r\n"));
        port.send("Y");
        EXPECT_TRUE(port.readUntilEnd("VKT5 V1.001\r\n").ends_with("VKT5 V1.001\r\n"));
        // Nobody answers the question: the port goes away.
        port.readUntilEnd("never");
        EXPECT_EQ(write(port.fd(), "Y", 1), -1);
    }
    struct stat during {};
    ASSERT_EQ(lstat(link.c_str(), &during), 0);
    EXPECT_EQ(during.st_ino, before.st_ino);
    EXPECT_EQ(fs::read_symlink(link), sim.slavePath());

    const auto end = Clock::now() + std::chrono::seconds(3);
    struct stat after {};
    while ((lstat(link.c_str(), &after) != 0 || after.st_ino == before.st_ino) &&
           Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(after.st_ino, before.st_ino) << "the link was not replaced";
    EXPECT_TRUE(fs::read_symlink(link).string().starts_with("/dev/pts/"));

    Port port(link.string());
    ASSERT_TRUE(port.isOpen());
    reachProgramming(port);
    for (const std::string& line : smallImageLines()) {
        port.send(line + "\r\n");
        EXPECT_EQ(port.readUntilEnd("*"), "*") << line;
    }
    EXPECT_EQ(sim.waitExit(std::chrono::seconds(3)), 0);
    const std::string report = readFile(dir_ / "report.txt");
    for (const char* expected :
         {"end_reason: eof\n", "boot_ups: 2\n", "units: 1\n", "records_received: 5\n",
          "flash_matches_image: yes\n", "boot: 1 hung-up records=0 erased=no eof=no\n",
          "boot: 2 finished records=5 erased=yes eof=yes\n"}) {
        EXPECT_NE(report.find(expected), std::string::npos) << expected << "\n" << report;
    }
    EXPECT_FALSE(fs::is_symlink(link));
}

// The wire log holds every chunk each way; echo, noise and stray bytes leave in one write with
// their prompt. SIGUSR1 then boots the unit afresh on the same terminal.
TEST_F(UnitSimPtyTest, WireLogShowsEveryChunkAndWhatSharesAWrite) {
    const fs::path log = dir_ / "wire.log";
    SimProcess sim({"--ident-interval", "20", "--echo", "--noise", "--noise-gap", "0",
                    "--stray-before-prompt", "--wire-log", log.string(), "--report",
                    (dir_ / "report.txt").string(), "--exit-after-ms", "10000"});
    Port port(sim.slavePath());
    port.readUntilEnd("VKT5\r\n");
    port.send("Y");
    port.readUntilEnd("VKT5 V1.001\r\n");
    for (const char* letter : {"Y", "E", "Y", "P"}) {
        port.send(letter);
        port.readUntilEnd(std::string(letter) == "P" ? "*" : "\r\n");
    }
    const std::vector<std::string> lines = smallImageLines();
    for (const std::string& line : lines) {
        port.send(line + "\r\n");
        EXPECT_EQ(port.readUntilEnd("#*"), line + "\r\n" + std::string(NOISE_LINE) + "\0#*"s);
    }
    sim.signal(SIGUSR1);
    EXPECT_TRUE(port.readUntilEnd("VKT5\r\n").ends_with("VKT5\r\n"));
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.waitExit(std::chrono::seconds(3)), 0);

    const std::string wire = readFile(log);
    const std::regex shape(R"(\d+\.\d{6} (rx|tx) [ -~]+)");
    std::istringstream in(wire);
    std::string entry;
    double last = 0;
    while (std::getline(in, entry)) {
        EXPECT_TRUE(std::regex_match(entry, shape)) << entry;
        const double at = std::stod(entry);
        EXPECT_GE(at, last) << entry;
        last = at;
    }
    const std::string noise = R"(\x00\x7F~junk\r\n)";
    for (const std::string& expected : std::vector<std::string>{
             " rx Y\n", " rx P\n", "VKT5 V1.001\\r\\n\n", " tx " + noise + R"(\x00#*)" + "\n",
             " rx " + lines[1] + "\\r\\n\n",
             " tx " + lines[1] + "\\r\\n" + noise + R"(\x00#*)" + "\n"}) {
        EXPECT_NE(wire.find(expected), std::string::npos) << expected << "\n" << wire;
    }
    const std::string report = readFile(dir_ / "report.txt");
    EXPECT_NE(report.find("boot_ups: 2\nunits: 1\n"), std::string::npos) << report;
    EXPECT_NE(report.find("state: identifying\n"), std::string::npos) << report;
}

}  // namespace
}  // namespace vkt5::sim
