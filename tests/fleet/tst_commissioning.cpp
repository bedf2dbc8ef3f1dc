// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The commissioning service against a scripted device: each request lost, answered, refused
// or forged; the outcome must match what the device reports afterwards.
#include "core/discovery/discoveryclient.h"
#include "core/fleet/commissioning.h"
#include "tests/support/datarow.h"
#include "tests/support/testdevice.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace corla;

namespace {

// How the network treats one change request.
enum class Fate
{
    Answered,      // the device takes the settings and says so
    AnswerLost,    // the device takes them, its answer is lost
    RequestLost,   // the device never hears it
    Refused,       // the device keeps its settings and says why
    ForgedAccept,  // the device never hears it; another host says "accepted"
    ForgedRefusal, // the device takes them; another host's refusal arrives first
    NetworkGone    // the device never hears it, and nothing answers any more
};

// One device behind a network that loses or forges; answers come from the event loop.
class ScriptedNetwork : public DiscoveryClient
{
public:
    QVector<Fate> fates; // one per change request; the last repeats
    std::shared_ptr<Device> device = testDevice(DeviceType(5), 1005, "02:c0:1a:00:00:05",
                                                "10.10.0.15", AddressModeStatic, "10.10.0.254");
    std::shared_ptr<Device> other =
        testDevice(DeviceType(10), 1010, "02:c0:1a:00:00:0a", "10.10.0.20");
    int changes = 0;
    int enquiries = 0;
    bool gone = false;
    // Each enquiry also gets a stale answer with the device's first settings.
    bool lateAnswers = false;
    NetworkSettings first = device->netHostInfo();

    quint64 netEnquire(const Device&) const override
    {
        auto* self = const_cast<ScriptedNetwork*>(this);
        ++self->enquiries;
        const quint64 id = quint64(enquiries + 1000);
        if (gone)
            return id;
        QTimer::singleShot(0, self, [self, id] {
            const auto answer = [self](quint64 request, const Device& device,
                                       const NetworkSettings& settings) {
                auto copy = std::make_shared<Device>(device.devType());
                copy->setSerial(device.serial());
                copy->setNetHostInfo(settings);
                emit self->enquiryAnswered(request, copy);
                emit self->deviceFound(copy);
            };
            for (const auto& device : {self->device, self->other})
                answer(id, *device, device->netHostInfo());
            if (self->lateAnswers)
                answer(999, *self->device, self->first);
        });
        return id;
    }
    quint64 changeNetSettings(uint16_t, DeviceType, const NetworkSettings& settings) const override
    {
        auto* self = const_cast<ScriptedNetwork*>(this);
        const Fate fate = fates.value(changes, fates.last());
        const quint64 id = quint64(++self->changes);
        self->gone = self->gone || fate == Fate::NetworkGone;
        const bool takes =
            fate == Fate::Answered || fate == Fate::AnswerLost || fate == Fate::ForgedRefusal;
        if (takes)
            self->device->setNetHostInfo(settings);
        auto answer = std::make_shared<Device>(1005, DeviceType(5), settings);
        int16_t code = -1;
        if (fate == Fate::Answered || fate == Fate::ForgedAccept)
            code = 0;
        else if (fate == Fate::Refused || fate == Fate::ForgedRefusal)
            code = 2;
        if (code >= 0)
            QTimer::singleShot(
                0, self, [self, id, answer, code] { emit self->changeAnswered(id, answer, code); });
        return id;
    }
};

} // namespace

Q_DECLARE_METATYPE(Fate)
Q_DECLARE_METATYPE(corla::ChangeOutcome)

class TestCommissioning : public QObject
{
    Q_OBJECT

private slots:
    void changeOutcome_data()
    {
        columns<QVector<Fate>, corla::ChangeOutcome>({"fates", "outcome"});
        QTest::addColumn<QString>("expected"); // "requests, reported address: logged outcomes"
        QTest::addColumn<bool>("lateAnswers");
        using O = corla::ChangeOutcome;
        const QString changed = "1, 10.10.0.50: sent|changed";
        row("accepted and confirmed", QVector<Fate>{Fate::Answered}, O::Changed, changed, false);
        row("answer lost, change made", QVector<Fate>{Fate::AnswerLost}, O::ChangedAnswerLost,
            "1, 10.10.0.50: sent|changed (answer lost)", false);
        row("request lost once, sent again", QVector<Fate>{Fate::RequestLost, Fate::Answered},
            O::Changed, "2, 10.10.0.50: sent|sent|changed", false);
        row("every request lost", QVector<Fate>{Fate::RequestLost}, O::Unchanged,
            "3, 10.10.0.15: sent|sent|sent|unchanged: no answer to 3 requests", false);
        row("refused", QVector<Fate>{Fate::Refused}, O::Refused,
            "1, 10.10.0.15: sent|refused: The subnet was invalid.", false);
        row("forged acceptance", QVector<Fate>{Fate::ForgedAccept}, O::NotConfirmed,
            "1, 10.10.0.15: sent|not confirmed: the device reports static 10.10.0.15 mask "
            "255.255.255.0 gateway 10.10.0.254 DNS 0.0.0.0",
            false);
        row("forged refusal, the device changed", QVector<Fate>{Fate::ForgedRefusal}, O::Changed,
            changed, false);
        row("answers to an earlier enquiry arrive late", QVector<Fate>{Fate::Answered}, O::Changed,
            changed, true);
    }
    void changeOutcome()
    {
        QFETCH(QVector<Fate>, fates);
        QFETCH(corla::ChangeOutcome, outcome);
        QFETCH(QString, expected);
        QFETCH(bool, lateAnswers);
        QTemporaryDir dir;
        const ChangeLog log(dir.filePath(QStringLiteral("changes.csv")));
        ScriptedNetwork network;
        network.fates = fates;
        network.lateAnswers = lateAnswers;
        corla::CommissioningService service(&network);
        service.setChangeLog(&log, QStringLiteral("test"));
        service.timing() = corla::Timing{30, 200, 10}; // answer, lookup, grace (ms)

        NetworkSettings settings = network.device->netHostInfo();
        settings.setIpAddress(Ipv4Address("10.10.0.50"));
        corla::ChangeOptions options;
        options.checkInUse = false;
        options.lookUpFirst = false;
        auto* change = service.change(network.device, settings, options);
        QSignalSpy finished(change, &corla::ChangeOperation::finished);
        change->start();
        QVERIFY(finished.wait(5000));
        const auto result = finished.at(0).at(0).value<corla::ChangeResult>();
        QCOMPARE(result.outcome, outcome);
        QVERIFY(result.reported);
        QFile file(log.path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList outcomes;
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray& line : lines.mid(1)) {
            if (line.isEmpty())
                continue;
            const QList<QByteArray> fields = line.split(',');
            QCOMPARE(fields.last(), QByteArray("test"));
            outcomes << QString::fromUtf8(fields.at(fields.size() - 2));
        }
        QCOMPARE(QStringLiteral("%1, %2: ")
                         .arg(network.changes)
                         .arg(text(result.reported->ipAddress())) +
                     outcomes.join('|'),
                 expected);
    }

    // Nothing answers after a change: the rest of the plan is not tried, and says so.
    void applyStopsWhenNothingAnswers()
    {
        ScriptedNetwork network;
        network.fates = {Fate::NetworkGone};
        corla::CommissioningService service(&network);
        service.timing() = corla::Timing{30, 100, 10};
        DeviceList found;
        found.beginRound();
        found.merge(network.device);
        found.merge(network.other);
        const Plan plan = readPlan("MAC Address,Address mode,IP Address,Subnet Mask\n"
                                   "02:c0:1a:00:00:05,Static,10.10.0.50,255.255.255.0\n"
                                   "02:c0:1a:00:00:0a,Static,10.10.0.60,255.255.255.0\n");
        QVERIFY(plan.ok());
        corla::ApplyOptions options;
        options.force = true; // no in-use check: this test sends nothing
        auto* apply = service.apply(plan, found, options);
        QSignalSpy finished(apply, &corla::ApplyOperation::finished);
        apply->start();
        QVERIFY(finished.wait(5000));
        QStringList outcomes;
        for (const corla::ApplyRow& row : finished.at(0).at(0).value<QVector<corla::ApplyRow>>())
            outcomes << row.outcomeText();
        QCOMPARE(outcomes, (QStringList{"not confirmed", "not reached"}));
        QCOMPARE(network.changes, 1);
    }
};

QTEST_GUILESS_MAIN(TestCommissioning)
#include "tst_commissioning.moc"
