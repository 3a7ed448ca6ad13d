// bench-serial: the serial layer against a real pseudo-terminal. How long a lone reply (a
// four-byte stop acknowledgement) takes from the far side's write to the layer's OnComm, with
// the layer collecting received bytes for CMSComm::RECEIVE_COLLECT_MS before it announces them.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "bench_budget.h"
#include "mscomm.h"

namespace {

void BM_ReplyLatency(benchmark::State& state)
{
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
    CMSComm::MapPort(1, QString::fromLatin1(name));
    CMSComm comm;
    comm.SetInBufferSize(20480);
    comm.SetSettings(QStringLiteral("256000,n,8,1"));
    comm.SetRThreshold(1);
    comm.SetPortOpen(true);
    bool bArrived = false;
    QObject::connect(&comm, &CMSComm::OnComm, [&] { bArrived = !comm.GetInput().isEmpty(); });
    const uint8_t reply[4] = {0xF0, 0x1F, 0x01, 0x33};
    double dMaxMs = 0;
    for (auto _ : state) {
        bArrived = false;
        const auto t0 = std::chrono::steady_clock::now();
        if (::write(master, reply, sizeof reply) != sizeof reply) {
            state.SkipWithError("write failed");
            break;
        }
        while (!bArrived)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double dMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        dMaxMs = std::max(dMaxMs, dMs);
        state.SetIterationTime(dMs / 1000);
    }
    state.counters["max_ms"] = dMaxMs;
    state.counters["collect_ms"] = CMSComm::RECEIVE_COLLECT_MS;
    comm.SetPortOpen(false);
    ::close(slave);
    ::close(master);
}

BENCHMARK(BM_ReplyLatency)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    return RunWithBudgets(argc, argv);
}
