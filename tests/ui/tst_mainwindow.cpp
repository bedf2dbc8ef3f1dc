// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The main window on a recording adapter; port probes are real, in a loopback-only namespace.
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
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace corla;

namespace {

const QString kEveryone = "enquire type 0 serial 0 mac 00:00:00:00:00:00";

// Answers file dialogs with `path`; QFileDialog's own accept override runs through the base.
ModalBoxHandler<QFileDialog>* choose(const QString& path)
{
    return new ModalBoxHandler<QFileDialog>([path](QFileDialog* dialog) {
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();
    });
}

} // namespace

Q_DECLARE_METATYPE(DeviceType)

class RecordingAdapter : public DiscoveryClient
{
    Q_OBJECT
public:
    mutable QStringList requests;
    // Each answered twice: a change with this code (none if negative), enquiries by MAC and to all.
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

    void openWindow() // again, when one is open
    {
        if (m_window)
            m_window->close();
        m_window = std::make_unique<MainWindow>(m_adapter.get(), m_checker.get());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
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
    // A device at 10.1.1.<serial>, MAC 00:1a:2b:3c:4d:0<serial>, whose probe gave `status`.
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
    // Nerio HF #5 is asked to move to 10.1.1.50, answers `answer` and then reports `reported`.
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
    QStringList m_boxes;
    std::unique_ptr<QObject> m_boxHandler;
    // From now on records boxes as "title|text" (Edit Again, else OK), dialogs by title, address.
    QStringList& recordBoxes()
    {
        m_boxHandler.reset(new ModalBoxHandler<QDialog>([this](QDialog* dialog) {
            if (auto* config = qobject_cast<ConfigureDialog*>(dialog)) {
                m_boxes << config->windowTitle() + " at " +
                               text(config->netHostPane()->netHostInfo().ipAddress());
                config->reject();
            } else if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
                m_boxes << box->windowTitle() + '|' + box->text();
                QAbstractButton* answer = box->button(QMessageBox::Ok);
                for (QAbstractButton* button : box->buttons())
                    answer = button->text() == "&Edit Again" ? button : answer;
                answer ? answer->click() : box->reject();
            }
        }));
        return m_boxes;
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
        qputenv("HOME", m_home.path().toLocal8Bit()); // where the export's folders are sought
        qunsetenv("XDG_CONFIG_HOME");
        // An INI file: some platforms' native format is the registry, which setPath() ignores.
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
        MainWindow::setApplicationIdentity();
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_urls, "open");
    }
    void cleanupTestCase()
    {
        m_window.reset(); // while its settings folder is there
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    }

    void init()
    {
        QSettings().clear();
        m_urls.urls.clear();
        m_window.reset(); // before the adapter and checker it uses
        m_boxHandler.reset();
        m_boxes.clear();
        m_adapter = std::make_unique<RecordingAdapter>();
        m_checker = std::make_unique<PortProbeScheduler>();
        openWindow();
    }

    // A round nobody answered shows an explanation in the table's place until a device appears.
    void noDevicePageUntilOneIsFound()
    {
        QCOMPARE(m_adapter->requests, QStringList{kEveryone});
        m_window->finishRound();
        QCOMPARE(ui().stkDeviceList->currentWidget(), ui().pageNoDevice);
        listed(DeviceType::KWT, 9, Reachability::NoIp);
        QCOMPARE(ui().lblDevCount->text(), QStringLiteral("(1)"));
        QCOMPARE(ui().stkDeviceList->currentWidget(), ui().tblMainTableView);
    }

    // Refresh greys every row and pauses itself; Clear empties the table; both drop the selection.
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

    // Button or double click open a reachable device's web page, else the double click configures.
    void actions_data()
    {
        columns<DeviceType, Reachability, bool, bool>({"type", "status", "web", "configAndReset"});
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
        QCOMPARE((QList<bool>{ui().btnWebserver->isEnabled(), ui().btnConfig->isEnabled(),
                              ui().btnReset->isEnabled()}),
                 (QList<bool>{web, configAndReset, configAndReset}));
        QTest::mouseClick(ui().btnWebserver, Qt::LeftButton);
        QCOMPARE(m_urls.urls, page);

        m_urls.urls.clear();
        QStringList& dialogs = recordBoxes();
        m_window->onTblDoubleClicked(view()->model()->index(0, 1));
        QCOMPARE(m_urls.urls, page);
        QCOMPARE(dialogs, web ? QStringList() : QStringList{"Configure " + name + " at 10.1.1.5"});
        m_window->onTblDoubleClicked(QModelIndex()); // an invalid index does nothing
    }

    void filterMatchesAnyColumn_data()
    {
        columns<QString, QStringList>({"filter", "serials"}); // serials listed, ascending
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

    // Ctrl+C copies the export's lines of the selected rows in the table's order, with a header.
    void copySelectedRows()
    {
        listThree();
        view()->sortByColumn(DeviceTableModel::SerialColumn, Qt::AscendingOrder);
        for (int row : {1, 0})
            view()->selectionModel()->select(view()->model()->index(row, 0),
                                             QItemSelectionModel::Select |
                                                 QItemSelectionModel::Rows);
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
        // how: keys, the table focused, or "menu:" and an entry; seen: what happened, joined by |
        columns<QString, Reachability, QString>({"how", "status", "seen"});
        using S = Reachability;
        row("F5", "F5", S::Unreachable, "sent " + kEveryone);
        row("Ctrl+E", "Ctrl+E", S::Unreachable, "dialog Export CSV");
        row("Ctrl+O", "Ctrl+O", S::Unreachable, "dialog Apply Plan");
        row("Ctrl+Q", "Ctrl+Q", S::Unreachable, "closed");
        row("Tab", "Tab", S::Unreachable, "focus left the table");
        row("Return, web page or not", "Return", S::Reachable, "dialog Configure Nerio HF #5");
        row("menu reset", "menu:Reset ...", S::Reachable, "dialog Reset Device");
        row("menu web page", "menu:Open in Web Browser", S::Reachable, "url http://10.1.1.5");
    }
    void keysAndContextMenu()
    {
        QFETCH(QString, how);
        QFETCH(Reachability, status);
        QFETCH(QString, seen);
        listed(DeviceType::NerioHF, 5, status);
        m_adapter->requests.clear();
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
            if (!m_window->isVisible())
                all << "closed";
            else if (how == "Tab" && QApplication::focusWidget() != view())
                all << "focus left the table";
            return all;
        };
        QTRY_COMPARE(observed().join('|'), seen);
    }

    // A reset is sent only once agreed to; a second click while the question is open asks nothing.
    void resetAsksFirst_data()
    {
        columns<bool, QStringList>({"agree", "sent"});
        row("agreed", true, QStringList{"reset 00:1a:2b:3c:4d:03"});
        row("cancelled", false, QStringList());
    }
    void resetAsksFirst()
    {
        QFETCH(bool, agree);
        QFETCH(QStringList, sent);
        const auto device = listed(DeviceType::NerioHF, 3, Reachability::Reachable);
        m_adapter->reports = device;
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
        const QStringList asked{"Reset Device|Reset Nerio HF #3 (00:1a:2b:3c:4d:03)?\n\nThe device "
                                "restarts and cannot be reached until it is back, which may take "
                                "up to two minutes."};
        QTRY_COMPARE(seen, asked);
        QTRY_COMPARE_WITH_TIMEOUT(m_adapter->requests.filter("reset "), sent, 5000);
        settle();
        QCOMPARE(m_adapter->requests.filter("reset "), sent);
        QCOMPARE(m_adapter->requests.isEmpty(), !agree);
        QCOMPARE(seen, asked);
    }

    // With no browser to open the page, the user is told where it is.
    void missingBrowserIsSaid()
    {
        const auto device = listed(DeviceType::NerioHF, 5, Reachability::Reachable);
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("openUrl"));
        QTest::ignoreMessage(QtWarningMsg, "No web browser opened http://10.1.1.5");
        QStringList& seen = recordBoxes();
        m_window->openDeviceWebserver(*device);
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_urls, "open");
        QTRY_COMPARE(seen, QStringList{"Corla Error!|No web browser could be opened for the web "
                                       "page of Nerio HF #5.\n\nIts address is http://10.1.1.5"});
    }

    // The outcome is told and logged once though answers come twice; a refusal reopens the dialog.
    void change_data()
    {
        columns<int, QString, QStringList, QString>({"answer", "reported", "boxes", "logged"});
        const QString accepted =
            "Change Accepted|The device's configuration was changed successfully";
        const QString refused = "Corla Error!|The network configuration was rejected by Nerio HF "
                                "#5.\n\nReason: The IP address was invalid.";
        row("accepted and confirmed", 0, "10.1.1.50", QStringList{accepted}, "changed");
        row("refused", 1, "10.1.1.5", QStringList{refused, "Configure Nerio HF #5 at 10.1.1.50"},
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
        QStringList& seen = recordBoxes();
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
        lines.replaceInStrings(QRegularExpression("^[^,]*,"), ""); // without the time
        const QString line = "00:1a:2b:3c:4d:05,5,Nerio HF,10.1.1.5,255.255.255.0,0.0.0.0,0.0.0.0,"
                             "Static,10.1.1.50,255.255.255.0,0.0.0.0,0.0.0.0,Static,%1,corla";
        QCOMPARE(lines, (QStringList{line.arg("sent"), line.arg(logged), ""}));
    }

    // An unwritable change log stops nothing and is said once, above the list.
    void changeLogFailureShownOnce()
    {
        QTemporaryDir dir;
        const ChangeLog log(dir.path()); // a folder, never a file
        QStringList& seen = recordBoxes();
        const auto device = requestChange(log, 0, "10.1.1.50");
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 1, 5000);
        QCOMPARE(text(device->netHostInfo().ipAddress()), QString("10.1.1.50"));
        QCOMPARE(
            QStringList(m_window->notices()).replaceInStrings(QRegularExpression(" \\(.*"), ""),
            QStringList{"The change log " + dir.path() + " cannot be written"});
        QVERIFY(ui().lblNotice->isVisibleTo(m_window.get()));
    }

    // Two senders disagree about a device: the row says so, and nothing is sent unless insisted.
    void conflictingDeviceAsksFirst()
    {
        listed(DeviceType::NerioHF, 3, Reachability::Reachable);
        auto other = testDevice(DeviceType::NerioHF, 3, "00:1a:2b:3c:4d:03", "10.1.1.3",
                                AddressModeStatic, "10.1.1.66");
        other->setAnsweredFrom(Ipv4Address("10.1.1.99"));
        emit m_adapter->deviceFound(other);
        QCOMPARE(view()->model()->index(0, DeviceTableModel::StatusColumn).data(), "Conflict");
        selectRow(0);
        m_adapter->requests.clear();
        QStringList& seen = recordBoxes(); // answers No
        QTest::mouseClick(ui().btnReset, Qt::LeftButton);
        QTRY_COMPARE(seen,
                     QStringList{"Conflicting Answers|Answers from 0.0.0.0 and 10.1.1.99 "
                                 "differ: Gateway 0.0.0.0 / 10.1.1.66. Possibly a duplicate "
                                 "MAC address or a forged answer.\n\nReset Nerio HF #3 anyway?"});
        settle();
        QCOMPARE(m_adapter->requests, QStringList());
    }

    // A failed export writes nothing and leaves the proposed folder where it was.
    void exportWritesNothing()
    {
        listed(DeviceType::NerioHF, 1, Reachability::Reachable);
        const QString target = "/proc/corla-devices.csv"; // takes no new files, not even root's
        std::unique_ptr<QObject> chooser(choose(target));
        QStringList& seen = recordBoxes();
        QTest::mouseClick(ui().btnExport, Qt::LeftButton);
        QCOMPARE(seen, QStringList{"Export Error!|The file could not be opened for writing.\n\n"
                                   "No such file or directory"});
        QVERIFY(!QFile::exists(target));
        QCOMPARE(m_window->proposedExportPath(QDateTime(QDate(2026, 1, 5), QTime(4, 7))),
                 m_home.path() + QStringLiteral("/devices-20260105-0407.csv"));
    }

    // The last export's folder while it is there, else the desktop, documents or home folder.
    void exportFolderFallsBack_data()
    {
        columns<QStringList, QString>({"folders", "expected"}); // folders made under home
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

    // An unreadable plan is said in a box; a plan is previewed (nothing sent) and its folder kept.
    void applyPlanPreviews()
    {
        listed(DeviceType::NerioHF, 5, Reachability::Reachable);
        m_adapter->requests.clear();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("plan.csv"));
        QStringList& seen = recordBoxes();
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
        std::unique_ptr<QObject> chooser(choose(path));
        QTest::mouseClick(ui().btnApplyPlan, Qt::LeftButton);
        auto* dialog = m_window->findChild<ApplyPlanDialog*>();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible() && dialog->applyButton()->isEnabled());
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QTableWidget* table = dialog->table();
        QCOMPARE(table->rowCount(), 2);
        using D = ApplyPlanDialog;
        const auto cell = [&](int row, int column) {
            return table->item(row, column)->text() + '|';
        };
        QCOMPARE(
            cell(0, D::OutcomeColumn) + cell(0, D::FoundColumn) + cell(0, D::PlannedColumn) +
                cell(1, D::OutcomeColumn),
            "to change|static 10.1.1.5/24 gw 0.0.0.0 dns 0.0.0.0|static 10.1.1.50/24 gw 0.0.0.0 "
            "dns 0.0.0.0|not found|");
        QCOMPARE(dialog->summary()->text(), "1 of 2 rows ask for a change.");
        QCOMPARE(m_window->proposedPlanFolder(), dir.path());
        QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
        QTRY_VERIFY(!m_window->findChild<ApplyPlanDialog*>());
        QCOMPARE(m_adapter->requests, QStringList());
        QCOMPARE(seen, QStringList());
    }

    // Columns chosen in the menus show and filter; with size, sort, folder they survive a restart.
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
        std::unique_ptr<QObject> chooser(choose(dir.filePath(QStringLiteral("fleet.csv"))));
        QTest::mouseClick(ui().btnExport, Qt::LeftButton);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("fleet.csv"))));

        openWindow();
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

    // While on, enquiries repeat and rows change in place; a silent device says since when.
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
        QCOMPARE(text(silent->netHostInfo().ipAddress()), "10.1.1.2");
        QCOMPARE(answering->netStat(), Reachability::Reachable);
        const QString reason =
            view()->model()->index(0, DeviceTableModel::ReasonColumn).data().toString();
        QVERIFY2(reason.contains(
                     QRegularExpression("^No answer since [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\. ")),
                 qPrintable(reason));
        QCOMPARE((QList<int>{int(view()->selectionModel()->selectedRows().size()),
                             m_window->selectedDevice()->serial(), view()->currentIndex().row(),
                             reset.count()}),
                 (QList<int>{1, 1, 1, 0}));
        m_adapter->answerAll << testDevice(DeviceType::KWT, 2, "00:1a:2b:3c:4d:02", "10.1.1.2");
        QTRY_COMPARE(ui().lblDevCount->text(), QStringLiteral("(2)"));
        QVERIFY(silent->netStat() != Reachability::NotFound);

        openWindow();
        QVERIFY(ui().cbAutoRefresh->isChecked());
        m_window->setAutoRefreshInterval(20);
        ui().cbAutoRefresh->click();
        QTRY_VERIFY(ui().btnRefresh->isEnabled());
        m_adapter->requests.clear();
        QTest::mouseClick(ui().btnRefresh, Qt::LeftButton);
        QTRY_VERIFY(ui().btnRefresh->isEnabled());
        QCOMPARE(m_adapter->requests, QStringList{kEveryone});
        openWindow();
        QVERIFY(!ui().cbAutoRefresh->isChecked());
    }

    // A stored sort is restored only if it names a real column; else the default, ascending.
    void storedSortOrder()
    {
        for (const auto& [column, order, expected] : {std::tuple{0, 0, 0}, {11, 1, 2}}) {
            QSettings().setValue(QStringLiteral("table/sortColumn"), column);
            QSettings().setValue(QStringLiteral("table/sortOrder"), order);
            m_window = std::make_unique<MainWindow>(m_adapter.get(), m_checker.get());
            QCOMPARE(view()->horizontalHeader()->sortIndicatorSection(), expected);
            QCOMPARE(view()->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
