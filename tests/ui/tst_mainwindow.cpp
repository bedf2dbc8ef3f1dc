// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The main window under the offscreen platform, on an adapter that writes its requests
// down instead of sending them and answers as each test tells it. The port probes are
// real: the test runs in a private network namespace with loopback only.
#include "tests/support/datarow.h"
#include "tests/support/labguard.h"
#include "tests/support/modalboxhandler.h"
#include "tests/support/settle.h"
#include "tests/support/testdevice.h"
#include "ui/applyplandialog.h"
#include "ui/configuredialog.h"
#include "ui/mainwindow.h"
#include "ui/mainwindow_form.h"
#include "ui/networksettingspane.h"

#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace corla;

namespace {

const QString kEveryone = "enquire type 0 serial 0 mac 00:00:00:00:00:00";

// Records every message box as "title|text" and answers it with Edit Again, else OK;
// records a configuration dialog as its title and address, and cancels it.
ModalBoxHandler<QDialog>* recordBoxes(QStringList* seen)
{
    return new ModalBoxHandler<QDialog>([seen](QDialog* dialog) {
        if (auto* config = qobject_cast<ConfigureDialog*>(dialog)) {
            *seen << config->windowTitle() + " at " +
                         text(config->netHostPane()->netHostInfo().ipAddress());
            config->reject();
        } else if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
            *seen << box->windowTitle() + '|' + box->text();
            QAbstractButton* answer = box->button(QMessageBox::Ok);
            for (QAbstractButton* button : box->buttons())
                answer = button->text() == "&Edit Again" ? button : answer;
            answer ? answer->click() : box->reject();
        }
    });
}

} // namespace

Q_DECLARE_METATYPE(DeviceType)

class RecordingAdapter : public DiscoveryClient
{
    Q_OBJECT
public:
    mutable QStringList requests;
    // Answers, each twice (as from two local addresses), from the event loop: a change
    // request with this code (none when negative); an enquiry for `reports`'s MAC with it;
    // an enquiry to all with `answerAll`.
    int changeAnswer = -1;
    std::shared_ptr<Device> reports;
    QList<std::shared_ptr<Device>> answerAll;

    quint64 netEnquire(const Device& device) const override
    {
        const MacAddress& mac = device.netHostInfo().macAddress();
        requests << QStringLiteral("enquire type %1 serial %2 mac %3")
                        .arg(int(device.devType()))
                        .arg(device.serial())
                        .arg(text(mac));
        const quint64 id = ++m_lastId;
        if (mac == MacAddress())
            for (const auto& device : answerAll)
                twice([this, device] {
                    emit const_cast<RecordingAdapter*>(this)->deviceFound(device);
                });
        if (reports && reports->netHostInfo().macAddress() == mac)
            twice([this, id] {
                auto* self = const_cast<RecordingAdapter*>(this);
                emit self->deviceFound(reports);
                emit self->enquiryAnswered(id, reports);
            });
        return id;
    }
    quint64 changeNetSettings(uint16_t serial, DeviceType,
                              const NetworkSettings& settings) const override
    {
        requests
            << QStringLiteral("change serial %1 to %2").arg(serial).arg(text(settings.ipAddress()));
        const quint64 id = ++m_lastId;
        if (changeAnswer >= 0) {
            auto answer = std::make_shared<Device>(serial, DeviceType::NerioHF, settings);
            const auto code = int16_t(changeAnswer);
            twice([this, id, answer, code] {
                emit const_cast<RecordingAdapter*>(this)->changeAnswered(id, answer, code);
            });
        }
        return id;
    }
    quint64 resetDevice(const MacAddress& mac) const override
    {
        requests << "reset " + text(mac);
        return ++m_lastId;
    }

private:
    template <typename F> void twice(F answer) const
    {
        QTimer::singleShot(0, this, answer);
        QTimer::singleShot(0, this, answer);
    }
    mutable quint64 m_lastId = 0;
};

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RecordingAdapter> m_adapter;
    std::unique_ptr<PortProbeScheduler> m_checker;
    std::unique_ptr<MainWindow> m_window;
    UrlCatcher m_urls;
    QTemporaryDir m_settingsDir; // the user's own settings are never read or written
    QTemporaryDir m_home;        // a home without a desktop or documents folder

    void restartWindow()
    {
        m_window->close();
        m_window = std::make_unique<MainWindow>(m_adapter.get(), m_checker.get());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    // Three rows for sorting, filtering and copying, in this order in the list.
    void listThree()
    {
        muteChecker();
        emit m_adapter->deviceFound(
            testDevice(DeviceType::NerioHF, 10, "00:1a:2b:3c:4d:0a", "10.1.1.10"));
        emit m_adapter->deviceFound(
            testDevice(DeviceType::KWT, 9, "00:1a:2b:3c:4d:09", "10.1.1.9"));
        emit m_adapter->deviceFound(testDevice(DeviceType::NerioHF, 100, "00:1a:2b:3c:4d:64",
                                               "10.1.1.100", AddressModeDhcp));
    }

    Ui_MainWindow& ui() { return *m_window->ui(); }
    QTableView* view() { return ui().tblMainTableView; }

    // Probe verdicts would race the statuses a test sets, so the window stops hearing them.
    void muteChecker() { QObject::disconnect(m_checker.get(), nullptr, m_window.get(), nullptr); }
    // A listed device at 10.1.1.<serial> with MAC 00:1a:2b:3c:4d:0<serial>, whose probe gave
    // `status`.
    std::shared_ptr<Device> listed(DeviceType type, uint8_t serial, Reachability status)
    {
        muteChecker();
        const QByteArray ip = "10.1.1." + QByteArray::number(serial);
        const QByteArray mac = "00:1a:2b:3c:4d:0" + QByteArray::number(serial);
        auto device = testDevice(type, serial, mac.constData(), ip.constData());
        emit m_adapter->deviceFound(device);
        m_window->handleStatus(*device, DevicePort::Ftp, status);
        return device;
    }
    // Nerio HF #5 at 10.1.1.5 is asked to move to 10.1.1.50; the request is answered with
    // `answer` and the device then reports itself at `reported`.
    std::shared_ptr<Device> requestChange(const ChangeLog& log, int answer, const char* reported)
    {
        m_window->setChangeLog(&log);
        m_window->service().timing().graceMs = 10;
        const auto device = listed(DeviceType::NerioHF, 5, Reachability::Reachable);
        m_adapter->changeAnswer = answer;
        m_adapter->reports = testDevice(DeviceType::NerioHF, 5, "00:1a:2b:3c:4d:05", reported);
        m_adapter->requests.clear();
        NetworkSettings settings = device->netHostInfo();
        settings.setIpAddress(Ipv4Address("10.1.1.50"));
        m_window->onConfigAccepted(*device, settings);
        return device;
    }
    void selectRow(int row)
    {
        view()->selectRow(row);
        QCOMPARE(view()->selectionModel()->selectedRows().size(), 1);
    }

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_PRIVATE_NETNS();
        QVERIFY(m_settingsDir.isValid());
        QVERIFY(m_home.isValid());
        // The folders the export proposes are looked up under this home only.
        qputenv("HOME", m_home.path().toLocal8Bit());
        qunsetenv("XDG_CONFIG_HOME");
        // An INI file in any case: the native format of some platforms is the registry,
        // which setPath() does not move.
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
        MainWindow::setApplicationIdentity();
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_urls, "open");
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }

    void init()
    {
        QSettings().clear();
        m_urls.urls.clear();
        m_adapter = std::make_unique<RecordingAdapter>();
        m_checker = std::make_unique<PortProbeScheduler>();
        m_window = std::make_unique<MainWindow>(m_adapter.get(), m_checker.get());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    void cleanup()
    {
        m_window.reset();
        m_checker.reset();
        m_adapter.reset();
    }

    // A round that nobody answered leaves an explanation in the table's place, until a
    // device appears.
    void noDevicePageUntilOneIsFound()
    {
        QCOMPARE(m_adapter->requests, QStringList{kEveryone});
        m_window->finishRound();
        QCOMPARE(ui().stkDeviceList->currentWidget(), ui().pageNoDevice);
        listed(DeviceType::KWT, 9, Reachability::NoIp);
        QCOMPARE(ui().lblDevCount->text(), QStringLiteral("(1)"));
        QCOMPARE(ui().stkDeviceList->currentWidget(), ui().tblMainTableView);
    }

    // Refresh greys every row and pauses itself; Clear empties the table. Both drop the
    // selection and with it the device actions.
    void refreshAndClear()
    {
        for (uint8_t i = 1; i <= 3; ++i)
            listed(DeviceType::NerioHF, i, Reachability::Reachable);
        selectRow(0);
        QElapsedTimer clock;
        clock.start();
        m_adapter->requests.clear();
        QTest::mouseClick(ui().btnRefresh, Qt::LeftButton);
        QCOMPARE(m_adapter->requests, QStringList{kEveryone});
        QVERIFY(!ui().btnRefresh->isEnabled());
        QVERIFY(!ui().gbDeviceActions->isEnabled());
        QVERIFY(view()->selectionModel()->selectedRows().isEmpty());
        for (const auto& device : m_window->model().deviceList())
            QCOMPARE(device->netStat(), Reachability::Pending);
        QTRY_VERIFY_WITH_TIMEOUT(ui().btnRefresh->isEnabled(), 2000);
        QVERIFY2(clock.elapsed() >= 95, qPrintable(QString::number(clock.elapsed())));

        selectRow(1);
        QVERIFY(ui().gbDeviceActions->isEnabled());
        QTest::mouseClick(ui().btnClear, Qt::LeftButton);
        QCOMPARE(view()->model()->rowCount(), 0);
        QCOMPARE(ui().lblDevCount->text(), QStringLiteral("(0)"));
        QVERIFY(!ui().gbDeviceActions->isEnabled());
        QCOMPARE(ui().lblDeviceAction->text(),
                 QStringLiteral("Select a device in the list above."));
    }

    // The web page opens only for a reachable device that has one, by button or by double
    // click; a double click on any other row opens its configuration dialog instead.
    void actions_data()
    {
        QTest::addColumn<DeviceType>("type");
        QTest::addColumn<Reachability>("status");
        QTest::addColumn<bool>("web");
        QTest::addColumn<bool>("configAndReset");
        using T = DeviceType;
        using S = Reachability;
        row("reachable with web page", T::NerioHF, S::Reachable, true, true);
        row("reachable without web page", T::Dorvi, S::Reachable, false, true);
        row("unreachable with web page", T::KWT, S::Unreachable, false, true);
        row("pending", T::NerioAF, S::Pending, false, false);
    }
    void actions()
    {
        QFETCH(DeviceType, type);
        QFETCH(Reachability, status);
        QFETCH(bool, web);
        QFETCH(bool, configAndReset);
        const auto device = listed(type, 5, status);
        const QString name = QString::fromStdString(device->friendlyName());
        const QList<QUrl> page = web ? QList<QUrl>{QUrl("http://10.1.1.5")} : QList<QUrl>{};
        selectRow(0);
        QCOMPARE(ui().lblDeviceAction->text(), name + " Actions:");
        QCOMPARE(ui().btnWebserver->isEnabled(), web);
        QCOMPARE(ui().btnConfig->isEnabled(), configAndReset);
        QCOMPARE(ui().btnReset->isEnabled(), configAndReset);
        QTest::mouseClick(ui().btnWebserver, Qt::LeftButton);
        QCOMPARE(m_urls.urls, page);

        m_urls.urls.clear();
        QStringList dialogs;
        ModalBoxHandler<QDialog> handler([&dialogs](QDialog* dialog) {
            dialogs << dialog->windowTitle();
            dialog->reject();
        });
        m_window->onTblDoubleClicked(view()->model()->index(0, 1));
        QCOMPARE(m_urls.urls, page);
        QCOMPARE(dialogs, web ? QStringList() : QStringList{"Configure " + name});
        m_window->onTblDoubleClicked(QModelIndex()); // an invalid index does nothing
    }

    // The window opened without a stored size shows every column on one line, one line
    // per row, within the screen; it never gets smaller than 500 x 546.
    void windowShowsWholeRows()
    {
        listThree();
        QTRY_VERIFY(view()->columnWidth(DeviceTableModel::MacColumn) > 0);
        QCoreApplication::processEvents();
        QVERIFY(m_window->screen()->availableGeometry().size().expandedTo(m_window->size()) ==
                m_window->screen()->availableGeometry().size());
        int width =
            static_cast<QAbstractItemView*>(view())->sizeHintForColumn(DeviceTableModel::MacColumn);
        for (int column = 0; column < DeviceTableModel::MacColumn; ++column)
            width += view()->columnWidth(column);
        QVERIFY2(width <= view()->viewport()->width(), qPrintable(QString::number(width)));
        const int line = view()->fontMetrics().height();
        QVERIFY(view()->rowHeight(0) >= line && view()->rowHeight(0) < 2 * line);
        m_window->resize(100, 100);
        QCOMPARE(m_window->size(), QSize(500, 546));
    }

    void filterMatchesAnyColumn_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("serials"); // listed, in ascending order
        row("none", "", QStringList{"10", "100", "9"});
        row("type, any case", "nerio", QStringList{"10", "100"});
        row("MAC, upper case", "4D:09", QStringList{"9"});
        row("mode", "dhcp", QStringList{"100"});
    }
    void filterMatchesAnyColumn()
    {
        QFETCH(QString, filter);
        QFETCH(QStringList, serials);
        listThree();
        QTest::keyClicks(ui().leFilter, filter);
        QStringList shown;
        for (int row = 0; row < view()->model()->rowCount(); ++row)
            shown << view()->model()->index(row, DeviceTableModel::SerialColumn).data().toString();
        shown.sort();
        QCOMPARE(shown, serials);
        QCOMPARE(ui().lblDevCount->text(), QStringLiteral("(3)"));
    }

    // Ctrl+C on the table: the export's lines of the selected rows in the table's order,
    // after the header line when there are several.
    void copySelectedRows()
    {
        listThree();
        view()->sortByColumn(DeviceTableModel::SerialColumn, Qt::AscendingOrder);
        view()->selectionModel()->select(view()->model()->index(1, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
        view()->selectionModel()->select(view()->model()->index(0, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        view()->setFocus();
        QTest::keyClick(view(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 "Serial,Device Type,IP Address,Subnet Mask,Gateway,DNS Server,Address mode,MAC "
                 "Address\n9,KWT,10.1.1.9,255.255.255.0,0.0.0.0,0.0.0.0,Static,00:1a:2b:3c:4d:09\n"
                 "10,Nerio HF,10.1.1.10,255.255.255.0,0.0.0.0,0.0.0.0,Static,00:1a:2b:3c:4d:0a\n");
    }

    // The window's keys and the table's context menu reach the commands they name.
    void keysAndContextMenu_data()
    {
        QTest::addColumn<QString>("how"); // keys, with the table focused; or "menu:" and an entry
        QTest::addColumn<Reachability>("status");
        QTest::addColumn<QStringList>("seen");
        using S = Reachability;
        const QStringList enquiry{"sent " + kEveryone}, config{"dialog Configure Nerio HF #5"};
        row("F5", "F5", S::Unreachable, enquiry);
        row("Ctrl+E", "Ctrl+E", S::Unreachable, QStringList{"dialog Export CSV"});
        row("Ctrl+O", "Ctrl+O", S::Unreachable, QStringList{"dialog Apply Plan"});
        row("Ctrl+Q", "Ctrl+Q", S::Unreachable, QStringList{"closed"});
        row("Tab", "Tab", S::Unreachable, QStringList{"focus left the table"});
        row("Return, device with a web page", "Return", S::Reachable, config);
        row("menu configure", "menu:Configure ...", S::Reachable, config);
        row("menu reset", "menu:Reset ...", S::Reachable, QStringList{"dialog Reset Device"});
        row("menu web page", "menu:Open in Web Browser", S::Reachable,
            QStringList{"url http://10.1.1.5"});
        row("menu copy", "menu:Copy", S::Reachable,
            QStringList{"copied 5,Nerio HF,10.1.1.5,255.255.255.0,0.0.0.0,0.0.0.0,Static,"
                        "00:1a:2b:3c:4d:05\n"});
    }
    void keysAndContextMenu()
    {
        QFETCH(QString, how);
        QFETCH(Reachability, status);
        QFETCH(QStringList, seen);
        listed(DeviceType::NerioHF, 5, status);
        m_adapter->requests.clear();
        QGuiApplication::clipboard()->clear();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        view()->setFocus();
        view()->setCurrentIndex(view()->model()->index(0, 1));
        QStringList dialogs;
        ModalBoxHandler<QDialog> handler([&dialogs](QDialog* dialog) {
            dialogs << "dialog " + dialog->windowTitle();
            dialog->reject();
        });
        if (how.startsWith("menu:")) {
            emit view()->customContextMenuRequested(
                view()->visualRect(view()->model()->index(0, 1)).center());
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu);
            QAction* chosen = nullptr;
            for (QAction* action : menu->actions())
                chosen = action->text() == how.mid(5) ? action : chosen;
            QVERIFY(chosen && chosen->isEnabled());
            menu->close();
            chosen->trigger();
        } else {
            QTest::keySequence(view(), QKeySequence(how));
        }
        const auto observed = [&] {
            QStringList all = dialogs;
            for (const QString& request : m_adapter->requests)
                all << "sent " + request;
            for (const QUrl& url : m_urls.urls)
                all << "url " + url.toString();
            if (!QGuiApplication::clipboard()->text().isEmpty())
                all << "copied " + QGuiApplication::clipboard()->text();
            if (!m_window->isVisible())
                all << "closed";
            else if (how == "Tab" && QApplication::focusWidget() != view())
                all << "focus left the table";
            return all;
        };
        QTRY_COMPARE(observed(), seen);
    }

    // A reset is sent only once the user agrees; a second click while the question is open
    // asks nothing more.
    void resetAsksFirst_data()
    {
        QTest::addColumn<bool>("agree");
        QTest::addColumn<QStringList>("sent");
        row("agreed", true, QStringList{"reset 00:1a:2b:3c:4d:03"});
        row("cancelled", false, QStringList());
    }
    void resetAsksFirst()
    {
        QFETCH(bool, agree);
        QFETCH(QStringList, sent);
        const auto device = listed(DeviceType::NerioHF, 3, Reachability::Reachable);
        m_adapter->reports = device; // it answers the look-up before the reset
        m_window->service().timing().graceMs = 10;
        selectRow(0);
        m_adapter->requests.clear();
        QStringList seen;
        ModalBoxHandler<QMessageBox> handler([&](QMessageBox* box) {
            seen << box->windowTitle() + '|' + box->text();
            QAbstractButton* answer = box->button(agree ? QMessageBox::Yes : QMessageBox::Cancel);
            answer ? answer->click() : box->reject();
        });
        m_window->onResetClicked();
        m_window->onResetClicked();
        QTRY_COMPARE(seen.value(0),
                     QStringLiteral("Reset Device|Reset Nerio HF #3 (00:1a:2b:3c:4d:03)?\n\nThe "
                                    "device restarts and cannot be reached until it is back, "
                                    "which may take up to two minutes."));
        QTRY_COMPARE_WITH_TIMEOUT(m_adapter->requests.filter("reset "), sent, 5000);
        settle(); // both presses have returned; only a resend (seconds away) could follow
        QCOMPARE(m_adapter->requests.filter("reset "), sent);
        QCOMPARE(m_adapter->requests.isEmpty(), !agree);
        QCOMPARE(seen.filter("Reset Device|").size(), 1);
    }

    // With no browser to open the page, the user is told where it is.
    void missingBrowserIsSaid()
    {
        const auto device = listed(DeviceType::NerioHF, 5, Reachability::Reachable);
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("openUrl"));
        QTest::ignoreMessage(QtWarningMsg, "No web browser opened http://10.1.1.5");
        QStringList seen;
        std::unique_ptr<QObject> handler(recordBoxes(&seen));
        m_window->openDeviceWebserver(*device);
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_urls, "open");
        QTRY_COMPARE(seen, QStringList{"Corla Error!|No web browser could be opened for the web "
                                       "page of Nerio HF #5.\n\nIts address is http://10.1.1.5"});
    }

    // The window tells the outcome once though every answer comes twice, and logs it as its
    // own; after a refusal the dialog opens again with what the user had asked for.
    void change_data()
    {
        QTest::addColumn<int>("answer");       // the code the change is answered with
        QTest::addColumn<QString>("reported"); // the address an enquiry then reports
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("logged"); // the outcome of the answer's log line
        row("accepted and confirmed", 0, "10.1.1.50",
            QStringList{"Change Accepted|The device's configuration was changed successfully"},
            "changed");
        row("refused", 1, "10.1.1.5",
            QStringList{"Corla Error!|The network configuration was rejected by Nerio HF #5."
                        "\n\nReason: The IP address was invalid.",
                        "Configure Nerio HF #5 at 10.1.1.50"},
            "refused: The IP address was invalid.");
    }
    void change()
    {
        QFETCH(int, answer);
        QFETCH(QString, reported);
        QFETCH(QStringList, boxes);
        QFETCH(QString, logged);
        QTemporaryDir dir;
        const ChangeLog log(dir.filePath("changes.csv"));
        QStringList seen;
        std::unique_ptr<QObject> handler(recordBoxes(&seen));
        const auto device = requestChange(log, answer, reported.toLatin1().constData());
        QTRY_COMPARE_WITH_TIMEOUT(seen, boxes, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(m_window->service().children().isEmpty(), 5000);
        settle();
        QCOMPARE(seen, boxes);
        QCOMPARE(m_adapter->requests,
                 (QStringList{"change serial 5 to 10.1.1.50",
                              "enquire type 0 serial 0 mac 00:1a:2b:3c:4d:05"}));
        QCOMPARE(text(device->netHostInfo().ipAddress()), reported);
        QFile file(log.path());
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
        QStringList lines = QString::fromUtf8(file.readAll()).split('\n').mid(1);
        for (QString& line : lines)
            line = line.section(',', 1); // without the time
        const QString line = "00:1a:2b:3c:4d:05,5,Nerio HF,10.1.1.5,255.255.255.0,0.0.0.0,0.0.0.0,"
                             "Static,10.1.1.50,255.255.255.0,0.0.0.0,0.0.0.0,Static,%1,corla";
        QCOMPARE(lines, (QStringList{line.arg("sent"), line.arg(logged), ""}));
    }

    // A change log that cannot be written stops nothing, and says so once, above the list.
    void changeLogFailureShownOnce()
    {
        QTemporaryDir dir;
        const ChangeLog log(dir.path()); // a folder, never a file
        QStringList seen;
        std::unique_ptr<QObject> handler(recordBoxes(&seen));
        const auto device = requestChange(log, 0, "10.1.1.50");
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 1, 5000);
        QCOMPARE(text(device->netHostInfo().ipAddress()), QString("10.1.1.50"));
        QCOMPARE(m_window->notices().size(), 1); // "sent" and "changed" both failed
        QVERIFY2(m_window->notices().first().startsWith("The change log " + dir.path() +
                                                        " cannot be written ("),
                 qPrintable(m_window->notices().first()));
        QVERIFY(ui().lblNotice->isVisibleTo(m_window.get()));
    }

    // Two senders disagree about one device: the row says so, and nothing is sent to it
    // unless the user insists.
    void conflictingDeviceAsksFirst()
    {
        listed(DeviceType::NerioHF, 3, Reachability::Reachable);
        auto other = testDevice(DeviceType::NerioHF, 3, "00:1a:2b:3c:4d:03", "10.1.1.3",
                                AddressModeStatic, "10.1.1.66");
        other->setAnsweredFrom(Ipv4Address("10.1.1.99"));
        emit m_adapter->deviceFound(other);
        QCOMPARE(view()->model()->index(0, DeviceTableModel::StatusColumn).data(), "Conflict");
        const QString conflict = "Answers from 0.0.0.0 and 10.1.1.99 differ: Gateway 0.0.0.0 / "
                                 "10.1.1.66. Possibly a duplicate MAC address or a forged answer.";
        selectRow(0);
        m_adapter->requests.clear();
        QStringList seen;
        std::unique_ptr<QObject> handler(recordBoxes(&seen)); // answers No
        QTest::mouseClick(ui().btnReset, Qt::LeftButton);
        QTRY_COMPARE(
            seen, QStringList{"Conflicting Answers|" + conflict + "\n\nReset Nerio HF #3 anyway?"});
        settle();
        QCOMPARE(m_adapter->requests, QStringList());
    }

    // Neither a cancelled nor a failed export writes anything or moves the proposed folder.
    void exportWritesNothing()
    {
        listed(DeviceType::NerioHF, 1, Reachability::Reachable);
        QString target; // empty: the file dialog is cancelled
        ModalBoxHandler<QFileDialog> chooser([&](QFileDialog* dialog) {
            dialog->selectFile(target);
            // QFileDialog's own accept override runs through the public base.
            target.isEmpty() ? dialog->reject() : static_cast<QDialog*>(dialog)->accept();
        });
        QStringList seen;
        std::unique_ptr<QObject> handler(recordBoxes(&seen));
        QTest::mouseClick(ui().btnExport, Qt::LeftButton);
        QCOMPARE(seen, QStringList());
        target = "/proc/corla-devices.csv"; // /proc takes no new files, not even from root
        QTest::mouseClick(ui().btnExport, Qt::LeftButton);
        QCOMPARE(seen, QStringList{"Export Error!|The file could not be opened for writing.\n\n"
                                   "No such file or directory"});
        QVERIFY(!QFile::exists(target));
        QCOMPARE(m_window->proposedExportPath(QDateTime(QDate(2026, 1, 5), QTime(4, 7))),
                 m_home.path() + QStringLiteral("/devices-20260105-0407.csv"));
    }

    // The last export's folder while it is there; then the desktop, the documents folder or
    // the home folder, whichever is there first; never the working folder.
    void exportFolderFallsBack_data()
    {
        QTest::addColumn<QStringList>("folders"); // made under home; "last": the last export's
        QTest::addColumn<QString>("expected");    // under home
        row("last export's", QStringList{"last", "Desktop"}, "last");
        row("desktop", QStringList{"Desktop", "Documents"}, "Desktop");
        row("documents", QStringList{"Documents"}, "Documents");
        row("home", QStringList(), "");
    }
    void exportFolderFallsBack()
    {
        QFETCH(QStringList, folders);
        QFETCH(QString, expected);
        QSettings().setValue(QStringLiteral("export/folder"), m_home.filePath("last"));
        for (const QString& folder : folders)
            QVERIFY(QDir(m_home.path()).mkdir(folder));
        const QDateTime at(QDate(2026, 12, 7), QTime(13, 59));
        const QString proposed = m_window->proposedExportPath(at);
        for (const QString& folder : folders)
            QDir(m_home.filePath(folder)).removeRecursively();
        QCOMPARE(proposed, m_home.path() + (expected.isEmpty() ? "" : "/" + expected) +
                               "/devices-20261207-1359.csv");
    }

    // Apply Plan: an unreadable file is said in a box; a plan is previewed against the
    // devices listed (nothing sent before Apply), and its folder is where the next one is
    // looked for.
    void applyPlanPreviews()
    {
        listed(DeviceType::NerioHF, 5, Reachability::Reachable);
        m_adapter->requests.clear();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("plan.csv"));
        QStringList seen;
        std::unique_ptr<QObject> handler(recordBoxes(&seen));
        QVERIFY(!m_window->openPlan(path)); // the file dialog itself insists on a file there
        QTRY_COMPARE(seen, QStringList{"Corla Error!|Cannot read the plan " + path +
                                       ": No such file or directory"});
        seen.clear();
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("MAC Address,Address mode,IP Address,Subnet Mask\n"
                   "00:1a:2b:3c:4d:05,Static,10.1.1.50,255.255.255.0\n"
                   "00:1a:2b:3c:4d:09,DHCP,,\n");
        file.close();
        ModalBoxHandler<QFileDialog> chooser([&](QFileDialog* dialog) {
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();
        });
        QTest::mouseClick(ui().btnApplyPlan, Qt::LeftButton);
        auto* dialog = m_window->findChild<ApplyPlanDialog*>();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible() && dialog->applyButton()->isEnabled());
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QTableWidget* table = dialog->table();
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(0, ApplyPlanDialog::OutcomeColumn)->text(), "to change");
        QCOMPARE(table->item(1, ApplyPlanDialog::OutcomeColumn)->text(), "not found");
        QCOMPARE(table->item(0, ApplyPlanDialog::FoundColumn)->text(),
                 "static 10.1.1.5/24 gw 0.0.0.0 dns 0.0.0.0");
        QCOMPARE(table->item(0, ApplyPlanDialog::FoundColumn)->toolTip(),
                 "static 10.1.1.5 mask 255.255.255.0 gateway 0.0.0.0 DNS 0.0.0.0");
        QCOMPARE(table->item(0, ApplyPlanDialog::PlannedColumn)->text(),
                 "static 10.1.1.50/24 gw 0.0.0.0 dns 0.0.0.0");
        QCOMPARE(dialog->summary()->text(), "1 of 2 rows ask for a change.");
        QCOMPARE(m_window->proposedPlanFolder(), dir.path());
        QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
        QTRY_VERIFY(!m_window->findChild<ApplyPlanDialog*>());
        QCOMPARE(m_adapter->requests, QStringList());
        QCOMPARE(seen, QStringList());
    }

    // The further columns are hidden until chosen in the View menu, which is also the
    // header's context menu, and the filter looks only at what is shown. The choice, the
    // window's size, the sort and the export's folder survive a restart.
    void viewSurvivesARestart()
    {
        listThree();
        QHeaderView* header = view()->horizontalHeader();
        for (int column = DeviceTableModel::SubnetColumn; column < DeviceTableModel::ColumnCount;
             ++column)
            QVERIFY(header->isSectionHidden(column));
        QTest::keyClicks(ui().leFilter, "255.255.255");
        QCOMPARE(view()->model()->rowCount(), 0);
        emit header->customContextMenuRequested(QPoint(5, 5));
        QCOMPARE(QApplication::activePopupWidget(), m_window->viewMenu());
        m_window->viewMenu()->close();
        m_window->columnActions().at(0)->trigger();
        QVERIFY(!header->isSectionHidden(DeviceTableModel::SubnetColumn));
        QVERIFY(header->sectionSize(DeviceTableModel::SubnetColumn) > 0);
        QCOMPARE(view()->model()->rowCount(), 3);

        m_window->resize(710, 560);
        header->setSortIndicator(4, Qt::DescendingOrder);
        QTemporaryDir dir;
        ModalBoxHandler<QFileDialog> chooser([&](QFileDialog* dialog) {
            dialog->selectFile(dir.filePath(QStringLiteral("fleet.csv")));
            static_cast<QDialog*>(dialog)->accept();
        });
        QTest::mouseClick(ui().btnExport, Qt::LeftButton);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("fleet.csv"))));

        restartWindow();
        header = view()->horizontalHeader();
        QVERIFY(m_window->columnActions().at(0)->isChecked());
        QVERIFY(!header->isSectionHidden(DeviceTableModel::SubnetColumn));
        QVERIFY(header->isSectionHidden(DeviceTableModel::GatewayColumn));
        QCOMPARE(m_window->size(), QSize(710, 560));
        QCOMPARE(header->sortIndicatorSection(), 4);
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
        QVERIFY(m_window->proposedExportPath(QDateTime::currentDateTime())
                    .startsWith(dir.path() + "/devices-"));
    }

    // While on, an enquiry goes out every interval and the rows change in place: the
    // selection stays, a silent device says since when and comes back when it answers.
    void autoRefresh()
    {
        const auto answering = listed(DeviceType::NerioHF, 1, Reachability::Reachable);
        const auto silent = listed(DeviceType::KWT, 2, Reachability::Reachable);
        view()->sortByColumn(DeviceTableModel::SerialColumn, Qt::DescendingOrder);
        selectRow(1);
        QVERIFY(!ui().cbAutoRefresh->isChecked());
        m_adapter->answerAll = {
            testDevice(DeviceType::NerioHF, 1, "00:1a:2b:3c:4d:01", "10.1.1.1")};
        m_adapter->requests.clear();
        QSignalSpy reset(view()->model(), &QAbstractItemModel::modelReset);
        m_window->setAutoRefreshInterval(20);
        ui().cbAutoRefresh->click();

        QTRY_COMPARE(ui().lblDevCount->text(), QStringLiteral("(1 of 2 answering)"));
        QTRY_VERIFY(m_adapter->requests.size() >= 3);
        QCOMPARE(m_adapter->requests.filter(kEveryone), m_adapter->requests);
        QCOMPARE(silent->netStat(), Reachability::NotFound);
        QCOMPARE(text(silent->netHostInfo().ipAddress()), "10.1.1.2"); // its settings stay
        QCOMPARE(answering->netStat(), Reachability::Reachable);
        const QString reason =
            view()->model()->index(0, DeviceTableModel::ReasonColumn).data().toString();
        QVERIFY2(reason.contains(
                     QRegularExpression("^No answer since [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\. ")),
                 qPrintable(reason));
        QCOMPARE(view()->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(m_window->selectedDevice()->serial(), 1);
        QCOMPARE(view()->currentIndex().row(), 1);
        QCOMPARE(reset.count(), 0);
        m_adapter->answerAll << testDevice(DeviceType::KWT, 2, "00:1a:2b:3c:4d:02", "10.1.1.2");
        QTRY_COMPARE(ui().lblDevCount->text(), QStringLiteral("(2)"));
        QVERIFY(silent->netStat() != Reachability::NotFound);

        // The choice survives a restart; turned off, no enquiry follows a manual Refresh's.
        restartWindow();
        QVERIFY(ui().cbAutoRefresh->isChecked());
        m_window->setAutoRefreshInterval(20);
        ui().cbAutoRefresh->click();
        QTRY_VERIFY(ui().btnRefresh->isEnabled());
        m_adapter->requests.clear();
        QTest::mouseClick(ui().btnRefresh, Qt::LeftButton);
        QTRY_VERIFY(ui().btnRefresh->isEnabled());
        QCOMPARE(m_adapter->requests, QStringList{kEveryone});
        restartWindow();
        QVERIFY(!ui().cbAutoRefresh->isChecked());
    }

    // What a settings file holds is not trusted: only a real column and order are restored;
    // else the IP address column, ascending.
    void storedSortOrder_data()
    {
        QTest::addColumn<QVariant>("column");
        QTest::addColumn<QVariant>("order");
        QTest::addColumn<int>("expectedColumn");
        QTest::addColumn<Qt::SortOrder>("expectedOrder");
        const QVariant none;
        row("none stored", none, none, 2, Qt::AscendingOrder);
        row("first column", QVariant(0), QVariant(0), 0, Qt::AscendingOrder);
        row("column past the last", QVariant(11), QVariant(1), 2, Qt::AscendingOrder);
        row("no such order", QVariant(3), QVariant(7), 2, Qt::AscendingOrder);
        row("text for a column", QVariant("serial"), QVariant(0), 2, Qt::AscendingOrder);
        row("column without an order", QVariant(3), none, 2, Qt::AscendingOrder);
    }
    void storedSortOrder()
    {
        QFETCH(QVariant, column);
        QFETCH(QVariant, order);
        QFETCH(int, expectedColumn);
        QFETCH(Qt::SortOrder, expectedOrder);
        QSettings().clear(); // what the window made in init() wrote
        if (column.isValid())
            QSettings().setValue(QStringLiteral("table/sortColumn"), column);
        if (order.isValid())
            QSettings().setValue(QStringLiteral("table/sortOrder"), order);
        m_window = std::make_unique<MainWindow>(m_adapter.get(), m_checker.get());
        QCOMPARE(view()->horizontalHeader()->sortIndicatorSection(), expectedColumn);
        QCOMPARE(view()->horizontalHeader()->sortIndicatorOrder(), expectedOrder);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
