// The main window under the offscreen platform, on an adapter that writes its requests
// down instead of sending them and answers as each test tells it. The port probes are
// real: the test runs in a private network namespace with loopback only.
#include "corlamainwin.h"
#include "corlamainwin_form.h"
#include "labguard.h"
#include "modalboxhandler.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

namespace {

std::shared_ptr<TevDevice> makeDevice(ZelDeviceType type, uint16_t serial, const char* ip,
                                      uint8_t macLast, TevAddressMode mode = TevAddressModeManual)
{
    auto device = TevDevice::createDevice(type);
    device->setSerial(serial);
    const uint8_t mac[6] = {macLast, 0x4d, 0x3c, 0x2b, 0x1a, 0x00};
    device->setNetHostInfo(TevNetHostInfo(TevIpAddr(ip), TevIpAddr("255.255.255.0"),
                                          TevIpAddr("10.1.1.254"), TevIpAddr(0u), TevMacAddr(mac),
                                          mode));
    return device;
}

struct MessageSeen
{
    QString title;
    QString text;
};

// Records every message box and answers it with OK.
ModalBoxHandler<QMessageBox>* recordBoxes(QList<MessageSeen>* seen)
{
    return new ModalBoxHandler<QMessageBox>([seen](QMessageBox* box) {
        seen->append({box->windowTitle(), box->text()});
        box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->reject();
    });
}

QString macText(const TevMacAddr& mac)
{
    return QString::fromStdString(mac.toString());
}

} // namespace

class RecordingAdapter : public ZelCorlaAdapter
{
    Q_OBJECT
public:
    mutable QStringList requests;

    void netEnquire(const ZelDevice& device) const override
    {
        requests << QStringLiteral("enquire type %1 serial %2 mac %3")
                        .arg(int(device.devType()))
                        .arg(device.serial())
                        .arg(macText(device.netHostInfo().macAddress()));
    }
    void netEnquire(ZelDeviceType type, uint16_t serial) const override
    {
        requests << QStringLiteral("enquire type %1 serial %2").arg(int(type)).arg(serial);
    }
    void changeNetSettings(uint16_t serial, ZelDeviceType type,
                           const TevNetHostInfo& settings) const override
    {
        requests << QStringLiteral("change type %1 serial %2 mac %3 to %4")
                        .arg(int(type))
                        .arg(serial)
                        .arg(macText(settings.macAddress()),
                             QString::fromStdString(settings.ipAddress().toString()));
    }
    void resetDevice(const TevMacAddr& mac) const override { requests << "reset " + macText(mac); }

    void answer(std::shared_ptr<TevDevice> device) { emit deviceFound(std::move(device)); }
    void confirmChange(std::shared_ptr<ZelDevice> device) { emit deviceChanged(std::move(device)); }
    void confirmReset(const TevMacAddr& mac) { emit deviceReset(mac); }
    void fail(const QString& text) { emit error(text); }
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
    std::unique_ptr<ZelConnectionChecker> m_checker;
    std::unique_ptr<MainWindow> m_window;
    UrlCatcher m_urls;

    Ui_MainWindow& ui() { return *m_window->ui(); }
    QTableView* view() { return ui().tblMainTableView; }

    // Probe verdicts would race the statuses a test sets, so the window stops hearing them.
    void muteChecker() { QObject::disconnect(m_checker.get(), nullptr, m_window.get(), nullptr); }
    void selectRow(int row)
    {
        view()->selectRow(row);
        QCOMPARE(view()->selectionModel()->selectedRows().size(), 1);
    }
    QModelIndex sourceRowIndex(int sourceRow)
    {
        auto* proxy = qobject_cast<QSortFilterProxyModel*>(view()->model());
        return proxy->mapFromSource(m_window->model().index(sourceRow, 1));
    }

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_PRIVATE_NETNS();
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_urls, "open");
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }

    void init()
    {
        m_urls.urls.clear();
        m_adapter = std::make_unique<RecordingAdapter>();
        m_checker = std::make_unique<ZelConnectionChecker>();
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

    void startState()
    {
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Corla v2.0.5"));
        QCOMPARE(ui().lblDevCount->text(), QStringLiteral("(0)"));
        QVERIFY(!ui().gbDeviceActions->isEnabled());
        QVERIFY(ui().btnSettings->isHidden());
        QCOMPARE(ui().lblDeviceAction->text(),
                 QStringLiteral("Select a device in the list above."));
        QCOMPARE(view()->model()->rowCount(), 0);
        QCOMPARE(view()->horizontalHeader()->sortIndicatorSection(), 2);
        QCOMPARE(view()->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(m_checker->connectionTimeout(), 4000);
        // One enquiry to every device: no type, no serial, no MAC address.
        QCOMPARE(m_adapter->requests, QStringList{"enquire type 0 serial 0 mac 00:00:00:00:00:00"});
    }

    void foundDevicesBecomeRowsOnePerMac()
    {
        // No address: the probe answers NoIp at once, so the rows turn red.
        m_adapter->answer(makeDevice(ZelDeviceType::NerioHF, 7, "0.0.0.0", 1));
        m_adapter->answer(makeDevice(ZelDeviceType::KWT, 9, "0.0.0.0", 2));
        QCOMPARE(ui().lblDevCount->text(), QStringLiteral("(2)"));
        for (const auto& device : m_window->model().deviceList())
            QCOMPARE(device->netStat(), ZelNetworkStatus::NoIp);

        // A second answer from a listed MAC updates that row, which waits for a new probe.
        muteChecker();
        const auto first = m_window->model().deviceList().first();
        m_adapter->answer(makeDevice(ZelDeviceType::NerioHF, 7, "10.1.1.6", 1));
        QCOMPARE(ui().lblDevCount->text(), QStringLiteral("(2)"));
        QCOMPARE(m_window->model().deviceList().first(), first); // the same stored record
        QCOMPARE(first->netHostInfo().ipAddress().toString(), std::string("10.1.1.6"));
        QCOMPARE(first->netStat(), ZelNetworkStatus::Pending);
    }

    void refreshGreysEveryRowAndPausesItself()
    {
        muteChecker();
        for (uint8_t i = 1; i <= 3; ++i) {
            auto device = makeDevice(ZelDeviceType::NerioHF, i, "10.1.1.5", i);
            m_adapter->answer(device);
            m_window->handleStatus(*device, ZelPort::Ftp, ZelNetworkStatus::Reachable);
        }
        selectRow(0);
        QElapsedTimer clock;
        clock.start();
        m_adapter->requests.clear();
        QTest::mouseClick(ui().btnRefresh, Qt::LeftButton);
        QCOMPARE(m_adapter->requests, QStringList{"enquire type 0 serial 0 mac 00:00:00:00:00:00"});
        QVERIFY(!ui().btnRefresh->isEnabled());
        QVERIFY(!ui().gbDeviceActions->isEnabled());
        QVERIFY(view()->selectionModel()->selectedRows().isEmpty());
        for (const auto& device : m_window->model().deviceList())
            QCOMPARE(device->netStat(), ZelNetworkStatus::Pending);
        QTRY_VERIFY_WITH_TIMEOUT(ui().btnRefresh->isEnabled(), 2000);
        QVERIFY2(clock.elapsed() >= 95, qPrintable(QString::number(clock.elapsed())));
    }

    void clearWithSelectedRow()
    {
        muteChecker();
        m_adapter->answer(makeDevice(ZelDeviceType::NerioHF, 3, "10.1.1.5", 1));
        m_adapter->answer(makeDevice(ZelDeviceType::Tavio, 4, "10.1.1.6", 2));
        selectRow(1);
        QVERIFY(ui().gbDeviceActions->isEnabled());
        QTest::mouseClick(ui().btnClear, Qt::LeftButton);
        QCOMPARE(view()->model()->rowCount(), 0);
        QCOMPARE(ui().lblDevCount->text(), QStringLiteral("(0)"));
        QVERIFY(!ui().gbDeviceActions->isEnabled());
        QCOMPARE(ui().lblDeviceAction->text(),
                 QStringLiteral("Select a device in the list above."));
    }

    void actionButtons_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<ZelNetworkStatus>("status");
        QTest::addColumn<bool>("web");
        QTest::addColumn<bool>("configAndReset");
        QTest::newRow("reachable with web page")
            << int(ZelDeviceType::NerioHF) << ZelNetworkStatus::Reachable << true << true;
        QTest::newRow("reachable without web page")
            << int(ZelDeviceType::Tavio) << ZelNetworkStatus::Reachable << false << true;
        QTest::newRow("unreachable with web page")
            << int(ZelDeviceType::KWT) << ZelNetworkStatus::Unreachable << false << true;
        QTest::newRow("no address")
            << int(ZelDeviceType::HostController) << ZelNetworkStatus::NoIp << false << true;
        QTest::newRow("pending") << int(ZelDeviceType::NerioAF) << ZelNetworkStatus::Pending
                                 << false << false;
        QTest::newRow("not yet probed")
            << int(ZelDeviceType::NerioAF) << ZelNetworkStatus::NotFound << false << true;
    }
    void actionButtons()
    {
        QFETCH(int, type);
        QFETCH(ZelNetworkStatus, status);
        QFETCH(bool, web);
        QFETCH(bool, configAndReset);
        muteChecker();
        auto device = makeDevice(ZelDeviceType(type), 1234, "10.1.1.5", 1);
        m_adapter->answer(device);
        m_window->handleStatus(*device, ZelPort::Ftp, status);
        selectRow(0);
        QVERIFY(ui().gbDeviceActions->isEnabled());
        QCOMPARE(ui().lblDeviceAction->text(),
                 QString::fromStdString(device->friendlyName()) + QStringLiteral(" Actions:"));
        QCOMPARE(ui().btnWebserver->isEnabled(), web);
        QCOMPARE(ui().btnConfig->isEnabled(), configAndReset);
        QCOMPARE(ui().btnReset->isEnabled(), configAndReset);
        QTest::mouseClick(ui().btnWebserver, Qt::LeftButton);
        QCOMPARE(m_urls.urls,
                 web ? QList<QUrl>{QUrl(QStringLiteral("http://10.1.1.5"))} : QList<QUrl>{});
    }

    void adapterErrorShowsWarning()
    {
        QList<MessageSeen> seen;
        std::unique_ptr<QObject> handler(recordBoxes(&seen));
        m_adapter->fail(QStringLiteral("The network configuration was rejected by X."));
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].title, QStringLiteral("Corla Error!"));
        QCOMPARE(seen[0].text, QStringLiteral("The network configuration was rejected by X."));
    }

    void resetAnswerGreysRowAndTells()
    {
        muteChecker();
        auto device = makeDevice(ZelDeviceType::HostController, 42, "10.1.1.5", 1);
        m_adapter->answer(device);
        m_window->handleStatus(*device, ZelPort::Ftp, ZelNetworkStatus::Reachable);
        selectRow(0);
        m_adapter->requests.clear();
        QTest::mouseClick(ui().btnReset, Qt::LeftButton);
        QCOMPARE(m_adapter->requests, QStringList{"reset 00:1a:2b:3c:4d:01"});
        QCOMPARE(device->netStat(), ZelNetworkStatus::Reachable); // nothing until it answers

        QList<MessageSeen> seen;
        std::unique_ptr<QObject> handler(recordBoxes(&seen));
        m_adapter->confirmReset(device->netHostInfo().macAddress());
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].title, QStringLiteral("Device Resetting"));
        QCOMPARE(
            seen[0].text,
            QStringLiteral("Host Controller #42 is resetting. This may take up to two minutes."));
        QCOMPARE(device->netStat(), ZelNetworkStatus::Pending);
        QVERIFY(view()->selectionModel()->selectedRows().isEmpty());
        QVERIFY(!ui().gbDeviceActions->isEnabled());

        m_adapter->confirmReset(device->netHostInfo().macAddress());
        QCOMPARE(seen.size(), 2); // every answer tells again
        m_adapter->confirmReset(TevMacAddr());
        QCOMPARE(seen.size(), 2); // not listed: nothing
    }

    void changeAcceptedShownOncePerChange()
    {
        muteChecker();
        auto device = makeDevice(ZelDeviceType::NerioHF, 5, "10.1.1.5", 1);
        m_adapter->answer(device);
        m_window->handleStatus(*device, ZelPort::Ftp, ZelNetworkStatus::Reachable);

        QList<MessageSeen> seen;
        std::unique_ptr<QObject> handler(recordBoxes(&seen));
        TevNetHostInfo same = device->netHostInfo();
        m_adapter->confirmChange(std::make_shared<ZelDevice>(5, ZelDeviceType::NerioHF, same));
        QCOMPARE(seen.size(), 0);
        QCOMPARE(device->netStat(), ZelNetworkStatus::Reachable);

        TevNetHostInfo moved = same;
        moved.setIpAddress(TevIpAddr("10.1.1.77"));
        m_adapter->requests.clear();
        m_window->onConfigAccepted(*device, moved);
        QCOMPARE(m_adapter->requests,
                 QStringList{"change type 5 serial 5 mac 00:1a:2b:3c:4d:01 to 10.1.1.77"});
        QCOMPARE(device->netHostInfo(), same); // nothing until it answers
        // One confirmation per local address: only the first differs from the list.
        for (int i = 0; i < 3; ++i)
            m_adapter->confirmChange(std::make_shared<ZelDevice>(5, ZelDeviceType::NerioHF, moved));
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].title, QStringLiteral("Change Accepted"));
        QCOMPARE(seen[0].text,
                 QStringLiteral("The device's configuration was changed successfully"));
        QCOMPARE(device->netHostInfo(), moved);
        QCOMPARE(device->netStat(), ZelNetworkStatus::Pending);
        QVERIFY(!ui().gbDeviceActions->isEnabled());
    }

    void doubleClick_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<ZelNetworkStatus>("status");
        QTest::addColumn<bool>("opensWebPage");
        QTest::newRow("reachable with web page")
            << int(ZelDeviceType::KWT) << ZelNetworkStatus::Reachable << true;
        QTest::newRow("reachable without web page")
            << int(ZelDeviceType::Dorvi) << ZelNetworkStatus::Reachable << false;
        QTest::newRow("unreachable with web page")
            << int(ZelDeviceType::NerioHF) << ZelNetworkStatus::Unreachable << false;
        QTest::newRow("pending with web page")
            << int(ZelDeviceType::NerioHF) << ZelNetworkStatus::Pending << false;
    }
    void doubleClick()
    {
        QFETCH(int, type);
        QFETCH(ZelNetworkStatus, status);
        QFETCH(bool, opensWebPage);
        muteChecker();
        auto device = makeDevice(ZelDeviceType(type), 5, "10.1.1.9", 1);
        m_adapter->answer(device);
        m_window->handleStatus(*device, ZelPort::Ftp, status);

        QStringList dialogTitles;
        ModalBoxHandler<QDialog> handler([&dialogTitles](QDialog* dialog) {
            dialogTitles << dialog->windowTitle();
            dialog->reject();
        });
        m_window->onTblDoubleClicked(sourceRowIndex(0));
        if (opensWebPage) {
            QCOMPARE(m_urls.urls, QList<QUrl>{QUrl(QStringLiteral("http://10.1.1.9"))});
            QVERIFY(dialogTitles.isEmpty());
        } else {
            QVERIFY(m_urls.urls.isEmpty());
            QCOMPARE(dialogTitles, QStringList{QStringLiteral("Configure ") +
                                               QString::fromStdString(device->friendlyName())});
        }
        m_window->onTblDoubleClicked(QModelIndex()); // an invalid index does nothing
    }

    void exportCsv_data()
    {
        QTest::addColumn<int>("devices");
        QTest::addColumn<QString>("target"); // "" cancels the file dialog; "tmp" a fresh file
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("box");
        const QString header = QStringLiteral("Serial,Device Type,IP Address,Subnet "
                                              "Mask,Gateway,DNS Server,Address mode,MAC Address\n");
        const QString line = QStringLiteral(
            "%1,Nerio HF,10.1.1.5,255.255.255.0,10.1.1.254,0.0.0.0,Static,00:1a:2b:3c:4d:0%1\n");
        QTest::newRow("two devices") << 2 << "tmp" << header + line.arg(1) + line.arg(2) << "";
        QTest::newRow("cancelled") << 2 << "" << QString() << "";
        // /proc takes no new files, not even from root.
        QTest::newRow("unwritable place")
            << 2 << "/proc/corla-devices.csv" << QString()
            << "Export Error!|The file could not be opened for writing.";
    }
    void exportCsv()
    {
        QFETCH(int, devices);
        QFETCH(QString, target);
        QFETCH(QString, expected);
        QFETCH(QString, box);
        muteChecker();
        for (uint8_t i = 1; i <= devices; ++i)
            m_adapter->answer(makeDevice(ZelDeviceType::NerioHF, i, "10.1.1.5", i));
        QTemporaryDir dir;
        const QString path = target == "tmp" ? dir.filePath(QStringLiteral("out.csv")) : target;
        QString caption;
        ModalBoxHandler<QFileDialog> chooser([&](QFileDialog* dialog) {
            caption = dialog->windowTitle();
            dialog->selectFile(path);
            // QFileDialog's own accept override runs through the public base.
            path.isEmpty() ? dialog->reject() : static_cast<QDialog*>(dialog)->accept();
        });
        QList<MessageSeen> seen;
        std::unique_ptr<QObject> boxes(recordBoxes(&seen));
        QTest::mouseClick(ui().btnExport, Qt::LeftButton);
        QCOMPARE(caption, QStringLiteral("Export CSV"));
        QStringList shown;
        for (const MessageSeen& m : seen)
            shown << m.title + '|' + m.text;
        QCOMPARE(shown.join(QString()), box);
        QCOMPARE(QFile::exists(dir.filePath(QStringLiteral("out.csv"))), !expected.isNull());
        if (!expected.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(file.readAll()), expected);
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
