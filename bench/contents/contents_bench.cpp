// Contents-view benchmark: how long the "Error Report Contents" dialog takes
// to open a dump and show its first page, and how much memory it needs, for
// dumps that claim many lines and for real dumps.
//
//   contents_bench --make LINES FILE   writes a small dump claiming LINES lines
//   contents_bench FILE                opens FILE in the dialog and measures
//
// One dump per process, so that each peak memory is that dump's own. Prints
// one line: lines, file size, open time (dialog built, shown and painted),
// time to jump to the end and to the middle and paint, memory growth over
// an application that has shown an empty dialog, and the section index.
#include "contents_dialog.h"
#include "dump_builder.h"

#include <QApplication>
#include <QFile>
#include <QScrollBar>
#include <QtTest/QTest>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

long long PeakKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

long long ResidentKb() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    return f.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE) / 1024;
}

int Make(std::uint64_t lines, const char* file) {
    dumptest::ClaimingDump dump(lines);
    QFile f(QString::fromLocal8Bit(file));
    if (!f.open(QIODevice::WriteOnly) ||
        f.write(reinterpret_cast<const char*>(dump.bytes.data()), static_cast<qint64>(dump.bytes.size())) !=
            static_cast<qint64>(dump.bytes.size())) {
        std::fprintf(stderr, "contents_bench: cannot write %s\n", file);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--make") return Make(std::strtoull(argv[2], nullptr, 0), argv[3]);
    if (argc != 2) {
        std::fprintf(stderr, "usage: contents_bench --make LINES FILE | contents_bench FILE\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString path = QString::fromLocal8Bit(argv[1]);
    {
        // Fonts, styles and the backing store once, so that they are not
        // counted against the dump.
        ulmarro::contents::ContentsDialog empty(QStringLiteral("/nonexistent"), {});
        empty.show();
        QTest::qWaitForWindowExposed(&empty);
        empty.grab();
    }
    const long long baseKb = ResidentKb();
    const long long basePeakKb = PeakKb();

    const auto start = Clock::now();
    ulmarro::contents::ContentsDialog dialog(path, {path});
    dialog.show();
    QTest::qWaitForWindowExposed(&dialog);
    dialog.grab(); // the first page painted
    const double open = Seconds(start);

    auto* view = dialog.view();
    const auto jump = Clock::now();
    view->setFocus();
    QTest::keyClick(view, Qt::Key_End);
    dialog.grab();
    QScrollBar* bar = view->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    dialog.grab();
    const double moves = Seconds(jump);

    const long long grownKb = std::max(PeakKb() - basePeakKb, ResidentKb() - baseKb);
    std::printf("%14llu lines  %9lld bytes  open %7.3f s  end+middle %7.3f s  memory +%7.1f MB  index %zu bytes\n",
                static_cast<unsigned long long>(view->lineCount()), static_cast<long long>(QFile(path).size()),
                open, moves, static_cast<double>(std::max(0LL, grownKb)) / 1024.0, dialog.sections().IndexBytes());
    return 0;
}
