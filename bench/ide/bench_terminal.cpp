// Terminal pane throughput: a 1 MB burst from the board until it is all on
// screen, and a steady 115200-baud stream (11520 bytes a second) for a
// while, with the process's CPU use (the thread playing the board left out),
// the event loop's worst delay and how often the pane redrew itself.
// The peer run gives a bare text widget the same text in one piece.
//
// Usage: oxbrin_bench_terminal [stream-seconds]   (offscreen platform)

#include "link/terminalpane.h"
#include "link/terminalport.h"
#include "shell/settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

QByteArray Lines(qsizetype bytes) {
    QByteArray data;
    int n = 0;
    while (data.size() < bytes)
        data += QByteArray("S1130000") + QByteArray::number(n++).rightJustified(10, '0') +
                QByteArray(60, 'F') + "\r\n";
    data.truncate(bytes);
    return data;
}

// Serves events until `done` holds; returns the worst gap between two turns
// of a 10 ms timer (how long the window could not react).
qint64 RunUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 worst = 0;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = qMax(worst, now - last);
        last = now;
        if (done()) loop.quit();
    });
    tick.start();
    if (!done()) loop.exec();
    return worst;
}

// Counts the paints of a widget (how often the pane drew itself).
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return QObject::eventFilter(watched, e);
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    oxbrin::CTerminalPort port;
    oxbrin::CTerminalPane pane(port, QSize(800, 400), nullptr);
    // As the IDE sets it up: its default font and scrollback.
    pane.SetConsoleFont(QStringLiteral("Fixedsys"), 9);
    pane.SetScrollback(oxbrin::kDefaultTerminalScrollback);
    pane.resize(800, 400);
    pane.show();
    port.SetReceiveSink(&pane);
    port.m_strPort = QString::fromLocal8Bit(ptsname(master));
    port.m_dcb.BaudRate = 115200;
    if (!port.Open()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(port.m_strPort));
        return 1;
    }
    auto lines = [&] { return pane.Control()->document()->blockCount(); };

    // Burst.
    // It ends in a line of its own: the pane keeps only its scrollback, so
    // the end is known by its last line.
    const QByteArray burst = Lines(1 << 20) + "\r\nEND";
    auto lastLine = [&] { return pane.Control()->document()->lastBlock().text(); };
    QElapsedTimer clock;
    clock.start();
    std::thread writer([&] {
        for (qsizetype at = 0; at < burst.size();) {
            const ssize_t n = write(master, burst.constData() + at, size_t(burst.size() - at));
            if (n <= 0) break;
            at += n;
        }
    });
    // A reader thread on our side drains the line, so the writer never blocks for long.
    const qint64 burstWorst = RunUntil([&] { return lastLine() == QStringLiteral("END"); });
    const qint64 burstMs = clock.elapsed();
    writer.join();

    QPlainTextEdit peer;
    peer.resize(800, 400);
    peer.show();
    clock.restart();
    peer.setPlainText(QString::fromLatin1(burst));
    QCoreApplication::processEvents();
    const qint64 peerMs = qMax<qint64>(1, clock.elapsed());
    std::printf("burst 1 MB: %lld ms on screen (peer %lld ms, ratio %.2f), worst event gap %lld ms\n",
                static_cast<long long>(burstMs), static_cast<long long>(peerMs),
                double(burstMs) / double(peerMs), static_cast<long long>(burstWorst));

    // Stream at 115200 baud: 11520 bytes a second in 10 ms pieces.
    pane.ClearText();
    const QByteArray piece = Lines(115);
    std::atomic<bool> streaming{true};
    // The thread that plays the board is not the IDE: its CPU time is taken
    // off the process's.
    std::atomic<double> boardCpu{0.0};
    PaintCounter counter;
    pane.Control()->viewport()->installEventFilter(&counter);
    const double cpu0 = CpuSeconds();
    clock.restart();
    std::thread stream([&] {
        QElapsedTimer t;
        t.start();
        qint64 sent = 0;
        while (t.elapsed() < seconds * 1000LL) {
            if (write(master, piece.constData(), size_t(piece.size())) <= 0) break;
            sent += piece.size();
            const qint64 due = sent * 1000 / 11520;
            if (due > t.elapsed()) std::this_thread::sleep_for(std::chrono::milliseconds(due - t.elapsed()));
        }
        timespec own{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &own);
        boardCpu = double(own.tv_sec) + double(own.tv_nsec) / 1e9;
        streaming = false;
    });
    const qint64 streamWorst = RunUntil([&] { return !streaming.load(); });
    stream.join();
    const double cpu = CpuSeconds() - cpu0 - boardCpu.load();
    const double wall = double(clock.elapsed()) / 1000.0;
    std::printf(
        "stream %d s at 115200 baud: CPU %.1f%% of one core, worst event gap %lld ms, %d lines shown, "
        "%.1f paints a second\n",
        seconds, 100.0 * cpu / wall, static_cast<long long>(streamWorst), lines(), counter.paints / wall);
    port.Close();
    close(master);
    return 0;
}
