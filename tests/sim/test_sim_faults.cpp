// The simulated sensor's thread under misuse and faults: a second Start() while running, and a
// read of the terminal's master side that fails once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "sensor_sim.h"

using Bytes = std::vector<uint8_t>;

namespace {

const Bytes INFO = {0xF0, 0x2F, 0x01, 0x31};
constexpr size_t INFO_REPLY_LEN = 8;

// Asks for the information reply on a fresh raw open of path; true when it arrives.
bool AnswersInfo(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    bool bOk = ::write(fd, INFO.data(), INFO.size()) == static_cast<ssize_t>(INFO.size());
    size_t nGot = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (bOk && nGot < INFO_REPLY_LEN && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 10);
        uint8_t buf[64];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            nGot += static_cast<size_t>(n);
    }
    ::close(fd);
    return nGot >= INFO_REPLY_LEN;
}

// Stop() must come back; a hang fails the test at once instead of at the suite's timeout.
void StopWithin(SensorSim& sim, int nSeconds)
{
    auto done = std::async(std::launch::async, [&] { sim.Stop(); });
    if (done.wait_for(std::chrono::seconds(nSeconds)) != std::future_status::ready) {
        std::fprintf(stderr, "SensorSim::Stop() hung\n");
        std::_Exit(1);
    }
}

// Fails the given number of master reads with EIO once the console has written something.
class FlakySim : public SensorSim {
public:
    FlakySim(SensorSimOptions opts, int nFailures) : SensorSim(std::move(opts)), m_nFailures(nFailures) {}
    ~FlakySim() override { Stop(); }
    std::atomic<int> m_nFailed{0};

protected:
    ssize_t ReadMaster(int fd, uint8_t* buf, size_t n) override
    {
        pollfd p{fd, POLLIN, 0};
        if (m_nFailed < m_nFailures && ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
            ++m_nFailed;
            errno = EIO;
            return -1;
        }
        return SensorSim::ReadMaster(fd, buf, n);
    }

private:
    const int m_nFailures;
};

} // namespace

TEST(SensorSimFaults, SecondStartIsRefusedAndTheRunningSimulatorCarriesOn)
{
    const std::string link = "/tmp/veltrin-simfault-" + std::to_string(::getpid());
    SensorSimOptions opts;
    opts.linkPath = link;
    SensorSim sim(opts);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    const std::string path = sim.SlavePath();

    EXPECT_FALSE(sim.Start(&error));
    EXPECT_NE(error.find("already running"), std::string::npos) << error;
    EXPECT_TRUE(sim.Running());
    EXPECT_EQ(sim.SlavePath(), path);
    struct stat st{};
    EXPECT_EQ(::lstat(link.c_str(), &st), 0) << "the link stays";
    EXPECT_TRUE(AnswersInfo(link));

    StopWithin(sim, 10);
    EXPECT_FALSE(sim.Running());
    EXPECT_NE(::lstat(link.c_str(), &st), 0);

    // Stopped, it starts again on a new terminal.
    ASSERT_TRUE(sim.Start(&error)) << error;
    EXPECT_TRUE(AnswersInfo(sim.SlavePath()));
    StopWithin(sim, 10);
}

TEST(SensorSimFaults, KeepsReadingAfterAFailedRead)
{
    FlakySim sim(SensorSimOptions{}, 2);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    EXPECT_TRUE(AnswersInfo(sim.SlavePath())) << "no answer after a failed read";
    EXPECT_EQ(sim.m_nFailed.load(), 2);
    EXPECT_TRUE(AnswersInfo(sim.SlavePath()));
    // The thread publishes its counts after it has answered.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (sim.Stats().commands < 2 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(sim.Stats().commands, 2u);
    StopWithin(sim, 10);
}
