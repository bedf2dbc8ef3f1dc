// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The window (offscreen) on the default fleet: time from a click on the logo to the about
// box shown (its first paint), quiet and while its answer sockets are flooded with 65000
// bytes of junk alternating with answers that name no device (at most 200 000 datagrams
// in at most 4 s). The click goes in as a posted event, so it waits for the event loop's
// next pass as a user's would. Sends packets: runs only on the host side of the lab, e.g.
//
//   scripts/lab --sim-bin build/tools/corla-sim/corla-sim --no-sim -- build/bench/bench_flood
//
// (one line; make bench runs it).
//
// Options: --clicks N (per run, default 20).

#include "core/wire/codec.h"
#include "tests/support/labguard.h"
#include "ui/mainwindow.h"
#include "ui/mainwindow_form.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef CORLA_BUILD_TYPE
#define CORLA_BUILD_TYPE ""
#endif

using namespace corla;

namespace {

struct Target
{
    quint32 address = 0;
    quint16 port = 0;
};

// As the flood test does, spread evenly over `maxMs`; returns the datagrams sent.
int flood(const std::vector<Target>& targets, const std::atomic<bool>& stop, qint64 maxMs,
          int maxDatagrams)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0 || targets.empty())
        return -1;
    const std::vector<char> junk(65000, '\x11');
    std::vector<uint8_t> zeros(26, 0);
    const std::vector<uint8_t> noDevice =
        encodeFrame(MessageCode::NetworkEnquiry, zeros.data(), zeros.size());
    QElapsedTimer clock;
    clock.start();
    int sent = 0;
    for (int i = 0; i < maxDatagrams && !stop && clock.elapsed() < maxMs; ++i) {
        if (i % 256 == 0) {
            const qint64 ahead = qint64(i) * maxMs / maxDatagrams - clock.elapsed();
            if (ahead > 0)
                ::usleep(useconds_t(ahead * 1000));
        }
        const Target& t = targets[size_t(i) % targets.size()];
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(t.port);
        to.sin_addr.s_addr = htonl(t.address);
        const bool big = i % 2 == 0;
        if (::sendto(fd, big ? junk.data() : reinterpret_cast<const char*>(noDevice.data()),
                     big ? junk.size() : noDevice.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to) > 0)
            ++sent;
    }
    ::close(fd);
    return sent;
}

// Clicks the logo from a timer, that is from inside the event loop, and times each click
// to the about box's first paint; the box is closed at once and the next click follows.
class ClickTimer : public QObject
{
public:
    explicit ClickTimer(QAbstractButton* button) : m_button(button)
    {
        qApp->installEventFilter(this);
    }

    // Runs the event loop until `clicks` boxes were shown or `stillGoing` says no more.
    std::vector<double> run(int clicks, const std::function<bool()>& stillGoing)
    {
        m_ms.clear();
        QEventLoop loop;
        const auto next = [&] {
            if (int(m_ms.size()) >= clicks || !stillGoing()) {
                loop.quit();
                return;
            }
            click();
        };
        m_next = next;
        QTimer::singleShot(20, &loop, next);
        loop.exec();
        m_next = nullptr;
        return m_ms;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* box = qobject_cast<QDialog*>(watched);
        if (!box || !m_clicked)
            return false;
        if (event->type() == QEvent::Paint && !m_painted) {
            m_painted = true;
            m_ms.push_back(double(m_clock.nsecsElapsed()) / 1e6);
            QMetaObject::invokeMethod(box, &QDialog::reject, Qt::QueuedConnection);
        } else if (event->type() == QEvent::Hide && m_painted) {
            m_clicked = false;
            // A little apart, so that each click meets the loop at another moment.
            if (m_next)
                QTimer::singleShot(37, this, m_next);
        }
        return false;
    }

private:
    void click()
    {
        m_clicked = true;
        m_painted = false;
        const QPointF at = QRectF(m_button->rect()).center();
        m_clock.start();
        QCoreApplication::postEvent(m_button,
                                    new QMouseEvent(QEvent::MouseButtonPress, at, Qt::LeftButton,
                                                    Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(m_button,
                                    new QMouseEvent(QEvent::MouseButtonRelease, at, Qt::LeftButton,
                                                    Qt::NoButton, Qt::NoModifier));
    }

    QAbstractButton* m_button;
    QElapsedTimer m_clock;
    bool m_clicked = false;
    bool m_painted = false;
    std::vector<double> m_ms;
    std::function<void()> m_next;
};

// The offscreen platform warns at every box it shows; that says nothing here.
void quietBoxes(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message != QLatin1String("This plugin does not support propagateSizeHints()"))
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

double median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double worst(const std::vector<double>& v)
{
    return v.empty() ? -1 : *std::max_element(v.begin(), v.end());
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    // As the program itself runs.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    // Every flooded frame is dropped with a debug line: that would be measured too.
    qputenv("QT_LOGGING_RULES", "corla.*.debug=false");
    qInstallMessageHandler(quietBoxes);
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"clicks", "Clicks per run.", "n", "20"}});
    parser.process(app);
    const int clicks = qMax(1, parser.value("clicks").toInt());
    QString why;
    if (!corlaInLab(&why)) {
        std::fprintf(stderr, "bench_flood: %s\n", qPrintable(why));
        return 1;
    }
    CorlaLabSim sim;
    if (!sim.start({"--quiet"}, &why)) {
        std::fprintf(stderr, "bench_flood: %s\n", qPrintable(why));
        return 1;
    }

    DiscoveryClient adapter;
    PortProbeScheduler checker;
    MainWindow window(&adapter, &checker);
    // Where the sockets of the latest request listen, as its enquiry frames name them (the
    // response port follows type, serial and MAC in the payload).
    std::vector<Target> targets;
    QObject::connect(&adapter, &DiscoveryClient::requestSent, &app,
                     [&targets](const QByteArray& frame, const QHostAddress& from) {
                         const auto port =
                             quint16(quint8(frame.at(13)) | (quint16(quint8(frame.at(14))) << 8));
                         for (const Target& t : targets) {
                             if (t.address == from.toIPv4Address() && t.port == port)
                                 return;
                         }
                         targets.push_back({from.toIPv4Address(), port});
                     });
    window.show();
    QElapsedTimer wait;
    wait.start();
    while (window.model().numDevices() < 20 && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const int listed = window.model().numDevices();
    // Settled: probes done, the first discovery's sockets gone.
    QTimer::singleShot(5000, &app, &QApplication::quit);
    app.exec();

    ClickTimer timer(window.ui()->btnLogoAbout);
    const std::vector<double> quiet = timer.run(clicks, [] { return true; });

    // A new discovery, and its sockets flooded from the first enquiry on: every datagram
    // keeps them open.
    targets.clear();
    window.ui()->btnRefresh->click();
    std::atomic<bool> stop{false};
    std::atomic<bool> flooding{true};
    int sent = 0;
    const std::vector<Target> flooded = targets;
    std::thread flooder([&] {
        sent = flood(flooded, stop, 4000, 200000);
        flooding = false;
    });
    const std::vector<double> underFlood =
        timer.run(clicks, [&flooding] { return bool(flooding); });
    stop = true;
    flooder.join();

    std::printf("bench_flood (%s build): %d devices listed, %d clicks per run\n", CORLA_BUILD_TYPE,
                listed, clicks);
    std::printf("  quiet:   click to about box painted: median %.1f ms, worst %.1f ms (%zu "
                "clicks)\n",
                median(quiet), worst(quiet), quiet.size());
    std::printf("  flooded: click to about box painted: median %.1f ms, worst %.1f ms (%zu "
                "clicks; %d datagrams to %zu sockets)\n",
                median(underFlood), worst(underFlood), underFlood.size(), sent, flooded.size());
    std::printf("  flooded / quiet (median) = %.2f\n",
                median(quiet) > 0 ? median(underFlood) / median(quiet) : 0.0);
    return quiet.size() == size_t(clicks) && !underFlood.empty() ? 0 : 1;
}
