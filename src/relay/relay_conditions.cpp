// Network Conditions in the engine: the set in force, the choice of the Connections it
// applies to, the release of held bytes as they fall due, and the ends the conditions cause.
//
// Held bytes are ordinary Channel bytes: the Buffered counters, the high-water mark, Pause,
// the drain at close and Half Close see them as any others. What the conditions add is the
// Channel's release marks (when each piece may go) and one heap of due times for all
// Connections, served by one timer armed for the earliest. Without conditions none of it runs:
// a Channel without marks takes its old path (one test of a pointer per block).
#include <algorithm>
#include <random>

#include "log/traffic_log.h"
#include "relay/conditions/conditions_text.h"
#include "relay/relay_engine.h"
#include "relay/show_count.h"

namespace corvane::relay {

namespace {

// A tick carries out at most this many due events, then lets the loop run before the rest.
constexpr int kMostDuePerTick = 4096;

std::int64_t NowNs() {
    return platform::DueTimer::NowNs();
}

// "5,000" or "1,500.5": a time of the conditions in milliseconds, for a log line.
std::string MsText(std::int64_t us) {
    std::string text(FormatCount(us / 1000).View());
    const std::string exact = FormatTime(us);
    const std::size_t point = exact.find('.');
    if (point != std::string::npos) {
        text += exact.substr(point);
    }
    return text;
}

const char* EndWord(Ending ending) {
    return ending == Ending::Reset ? "Reset" : "Closed";
}

}  // namespace

// --- The set in force -----------------------------------------------------------------------

std::string RelayEngine::ConditionsLine() const {
    if (!conditions_.On()) {
        return "off";
    }
    Conditions shown = conditions_;
    shown.seed = seed_;
    return FormatConditions(shown, ConditionsLayout::OneLine);
}

void RelayEngine::BeginConditions() {
    seed_ = conditions_.seed ? *conditions_.seed
                             : (static_cast<std::uint64_t>(std::random_device{}()) << 32) ^
                                   std::random_device{}();
    runRandom_.Seed(seed_);
    if (conditions_.On()) {
        log_.LogInform(("Conditions: " + ConditionsLine()).c_str());
    }
}

void RelayEngine::ReplaceConditions(const Conditions& set) {
    const bool wasHolding = HoldingClients();
    conditions_ = set;
    if (!running_) {
        return;
    }
    log_.LogInform(("Conditions now: " + ConditionsLine()).c_str());
    Connection* next = nullptr;
    for (Connection* c = connections_.Head(); c != nullptr; c = next) {
        next = c->next;  // the stall's end may send, and a failed send ends c
        if (!c->leftOutByShare) {
            ApplyLiveConditions(*c);
        }
    }
    if (wasHolding && !HoldingClients()) {
        AcceptClient();  // takes the first Client waiting; the accept event brings the rest
    }
}

void RelayEngine::TakeConditions(Connection& c, bool atAccept) {
    if (atAccept ? !conditions_.ForConnection() : c.conditions != nullptr) {
        return;
    }
    c.conditions.reset(new ConnectionConditions(c, conditions_, runRandom_.Next(), NowNs(),
                                                atAccept, HighWaterMark));
    c.clientToServer.marks = &c.conditions->toServer.marks;
    c.serverToClient.marks = &c.conditions->toClient.marks;
    c.conditionsText = DescribeForConnection(conditions_);
    ++c.conditionsRevision;
    if (atAccept) {
        log_.LogConnectionLine(c.Tag(), "Conditions: " + c.conditionsText, log::LogKind::Inform);
    }
}

void RelayEngine::ApplyLiveConditions(Connection& c) {
    const Conditions& set = conditions_;
    const bool live = set.up.latency.On() || set.up.bandwidth.On() || set.up.slicing.On() ||
                      set.up.loss.On() || set.down.latency.On() || set.down.bandwidth.On() ||
                      set.down.slicing.On() || set.down.loss.On() || set.stall.On();
    if (c.conditions == nullptr && !live) {
        return;
    }
    TakeConditions(c, false);
    ConnectionConditions& cc = *c.conditions;
    cc.TakeLiveConditions(set, HighWaterMark);
    c.conditionsText = DescribeForConnection(set);
    ++c.conditionsRevision;
    ScheduleLife(c);
    if (cc.stalled && !cc.stall.On()) {
        // The stall is over: what waited goes now, in each direction.
        cc.stalled = false;
        if (SendToServer(c) >= 0) {
            SendToClient(c);
        }
    }
}

// --- Passing on what is due -------------------------------------------------------------

std::int64_t RelayEngine::ConditionedHeldLimit(const Channel& channel) const {
    return channel.marks->heldLimit;
}

int RelayEngine::FlushDue(Connection& c, Channel& channel, platform::SOCKET s,
                          log::CaptureSide from) {
    ConnectionConditions& cc = *c.conditions;
    const bool toServer = &channel == &c.clientToServer;
    DirectionState& d = toServer ? cc.toServer : cc.toClient;
    const std::int64_t now = NowNs();
    const auto ready =
        static_cast<std::int32_t>(d.set.limit.Allowed(d.passed, cc.stalled ? 0 : d.marks.Due(now)));
    const int sent = ready > 0 ? SendOn(c, channel, s, from, ready) : 0;
    if (sent < 0) {
        return -1;
    }
    d.passed += sent;
    if (d.set.limit.Reached(d.passed, channel.length)) {
        // Ended from the timer, outside the send's callers; nothing more goes meanwhile.
        if (!cc.limitReached) {
            cc.limitReached = true;
            cc.limitToServer = toServer;
            CancelDue(d.release);
            ScheduleLife(c);
        }
        return sent;
    }
    // What brings the rest: room in the socket (FD_WRITE), the end of a stall, the next
    // block, or the due time of the next piece (now, for a slice that goes on its own).
    const std::int64_t next = sent < ready || cc.stalled || channel.length == 0 ? -1
                              : d.marks.Due(now) > 0                            ? now
                                                     : d.marks.NextDue(now);
    if (next < 0) {
        CancelDue(d.release);
    } else {
        ScheduleDue(d.release, next);
    }
    return sent;
}

// --- Refuse and Slow close --------------------------------------------------------------

void RelayEngine::RefuseClient(platform::SOCKET s, log::ConnectionTag tag) {
    log_.LogConnectionInform(tag, "Refused by conditions");
    if (conditions_.refuse.mode == Refusal::Reset) {
        const platform::LINGER hard{1, 0};
        platform::setsockopt(s, platform::SOL_SOCKET_, platform::SO_LINGER_, &hard, sizeof hard);
    }
    platform::closesocket(s);
    log_.LogConnectionMessage(tag, "Disconnected from Client");
}

bool RelayEngine::HoldClose(Connection& c, bool clientSide, int error) {
    ConnectionConditions& cc = *c.conditions;
    if (!cc.slowClose.On() || c.draining != Draining::None) {
        return false;
    }
    if (cc.closeHeld) {
        return cc.closeFromClient == clientSide;  // met again while it waits
    }
    cc.closeHeld = true;
    cc.closeFromClient = clientSide;
    cc.closeError = error;
    cc.closeAtNs = NowNs() + cc.slowClose.us * 1000;
    log_.LogConnectionInform(c.Tag(), ((clientSide ? "Client's" : "Server's") +
                                       std::string(" close held back by conditions for ") +
                                       MsText(cc.slowClose.us) + " ms")
                                          .c_str());
    ScheduleLife(c);
    return true;
}

// The close that Slow close held, as OnSocketClose would have taken it.
void RelayEngine::CarryOutHeldClose(Connection& c, bool clientSide, int error) {
    if (c.draining != Draining::None) {
        return;  // ending already
    }
    if (error == 0) {
        PassOnTlsEnd(c, clientSide);
        if (HalfCloseFinish(c, clientSide) != 0) {
            return;  // a half close that the Connection goes on with
        }
    }
    if (clientSide) {
        log_.LogConnectionInform(c.Tag(), "Client disconnected");
        DisconnectServer(c, error);
    } else {
        log_.LogConnectionInform(c.Tag(), "Server disconnected");
        DisconnectClient(c, error);
    }
}

// --- Ends -----------------------------------------------------------------------------------

void RelayEngine::EndByConditions(Connection& c, Ending ending, const std::string& reason) {
    EndBothNow(c, reason.c_str(), ending == Ending::Reset, log::CaptureSide::Server);
}

// --- The timer ------------------------------------------------------------------------------

void RelayEngine::ScheduleDue(DueSlot& slot, std::int64_t dueNs) {
    dueHeap_.Schedule(slot, dueNs);
    ArmDueTimer();
}

void RelayEngine::CancelDue(DueSlot& slot) {
    if (slot.Set()) {
        dueHeap_.Cancel(slot);
        ArmDueTimer();
    }
}

void RelayEngine::ScheduleLife(Connection& c) {
    const std::int64_t next = c.conditions->NextLifeNs();
    if (next < 0) {
        CancelDue(c.conditions->life);
    } else {
        ScheduleDue(c.conditions->life, next);
    }
}

void RelayEngine::CancelConditionSlots(Connection& c) {
    ConnectionConditions& cc = *c.conditions;
    for (DueSlot* slot : {&cc.toServer.release, &cc.toClient.release, &cc.life}) {
        CancelDue(*slot);
    }
}

void RelayEngine::ArmDueTimer() {
    if (inDueTick_) {
        return;  // the tick arms it once at its end
    }
    // An empty heap leaves the timer as it is: one tick that finds nothing costs less than
    // a system call each time the last slot goes. So does a timer armed for a moment before
    // the earliest: its tick finds nothing due yet and arms again. Only an earlier moment
    // moves it, as a steady stream would otherwise move it later with every piece it sends.
    if (const DueSlot* earliest = dueHeap_.Earliest()) {
        const std::int64_t armed = dueTimer_.ArmedNs();
        if (armed < 0 || earliest->dueNs < armed) {
            dueTimer_.Arm(earliest->dueNs);
        }
    }
}

// Carries out everything due, earliest first; what a step schedules for now comes in the
// same tick, up to a bound that lets the loop run in between.
void RelayEngine::OnDueTimer() {
    inDueTick_ = true;
    const std::int64_t now = NowNs();
    for (int handled = 0; handled < kMostDuePerTick; ++handled) {
        DueSlot* slot = dueHeap_.Earliest();
        if (slot == nullptr || slot->dueNs > now) {
            break;
        }
        dueHeap_.Cancel(*slot);
        Connection& c = *slot->connection;
        switch (slot->kind) {
            case DueKind::ReleaseToServer:
                SendToServer(c);
                break;
            case DueKind::ReleaseToClient:
                SendToClient(c);
                break;
            case DueKind::Life:
                OnLifeDue(c);
                break;
        }
    }
    inDueTick_ = false;
    ArmDueTimer();
}

// The events of a Connection's life that are due, in the order in which they matter: an end
// first (nothing else counts then), then the stall, the delayed connect and a held close.
void RelayEngine::OnLifeDue(Connection& c) {
    ConnectionConditions& cc = *c.conditions;
    const std::int64_t now = NowNs();
    if (cc.limitReached) {
        EndByConditions(
            c, (cc.limitToServer ? cc.toServer : cc.toClient).set.limit.ending,
            cc.limitToServer ? "Data limit reached to Server" : "Data limit reached to Client");
        return;
    }
    if (cc.endAfter.On() && now >= cc.EndAtNs()) {
        EndByConditions(c, cc.endAfter.ending,
                        std::string(EndWord(cc.endAfter.ending)) + " by conditions after " +
                            MsText(cc.endAfter.us) + " ms");
        return;
    }
    if (cc.stall.On() && cc.stall.endUs >= 0 && now >= cc.StallEndAtNs()) {
        EndByConditions(c, cc.stall.ending,
                        std::string(EndWord(cc.stall.ending)) + " by conditions after " +
                            MsText(cc.stall.afterUs + cc.stall.endUs) + " ms");
        return;
    }
    if (cc.stall.On() && !cc.stalled && now >= cc.StallAtNs()) {
        cc.stalled = true;
        CancelDue(cc.toServer.release);
        CancelDue(cc.toClient.release);
        log_.LogConnectionInform(
            c.Tag(), ("Stalled by conditions after " + MsText(cc.stall.afterUs) + " ms").c_str());
    }
    if (cc.connectPending && now >= cc.ConnectAtNs()) {
        cc.connectPending = false;
        if (!ConnectToServer(c)) {
            EndConnecting(c);
            return;
        }
        connections_.Remember(c.serverSocket, &c);
    }
    const bool closeDue = cc.closeHeld && now >= cc.closeAtNs;
    if (closeDue) {
        cc.closeHeld = false;
    }
    ScheduleLife(c);
    if (closeDue) {
        CarryOutHeldClose(c, cc.closeFromClient, cc.closeError);  // last: it may end c
    }
}

}  // namespace corvane::relay
