#include "ftp/connection/NetTCPConnection.h"

#include <algorithm>
#include <chrono>

#include "ftp/NetExceptions.h"
#include "ftp/iohandler/NetAntiFreeze.h"
#include "ftp/iohandler/NetIOHandlerSocket.h"
#include "ftp/socket/NetStack.h"

TNetTCPConnection::TNetTCPConnection() = default;

TNetTCPConnection::~TNetTCPConnection() {
    try {
        DropSocket();
    } catch (...) {
    }
}

bool TNetTCPConnection::IsOpen() {
    CheckForDisconnect(false, false);
    return ioHandler_ && ioHandler_->Connected();
}

void TNetTCPConnection::CloseConnection() {
    DropSocket();
    ioHandler_.reset();
}

void TNetTCPConnection::DropSocket() {
    if (!ioHandler_) return;
    closedGracefully_ = true;
    ioHandler_->Close();
}

void TNetTCPConnection::PrepareHandler() {
    if (ioHandler_ && ioHandler_->Connected()) throw ENetAlreadyConnected();
    if (!ioHandler_) ioHandler_ = MakeTransport();
    ioHandler_->Open();
    inputBuffer_.Clear();
    closedGracefully_ = false;
}

std::unique_ptr<TNetIOHandler> TNetTCPConnection::MakeTransport() {
    std::unique_ptr<TNetIOHandler> handler;
    if (MakeIOHandler) handler = MakeIOHandler();
    if (!handler) handler = std::make_unique<TNetIOHandlerSocket>();
    return handler;
}

void TNetTCPConnection::CheckForDisconnect(bool raise, bool ignoreBuffer) {
    bool disconnected = false;
    if (closedGracefully_) {
        if (ioHandler_ && ioHandler_->Connected()) DropSocket();
        disconnected = true;
    } else {
        disconnected = !ioHandler_ || !ioHandler_->Connected();
    }
    if (disconnected && raise && (inputBuffer_.Empty() || ignoreBuffer)) throw ENetConnClosedGracefully();
}

int TNetTCPConnection::ReadFromStack() {
    std::optional<int> received = ReceiveWithin(ReadTimeout > 0 ? ReadTimeout : -1);
    if (!received) throw ENetReadTimeout();
    return *received;
}

std::optional<int> TNetTCPConnection::ReceiveWithin(int timeoutMs) {
    CheckForDisconnect(true, false);
    if (!ioHandler_ || !ioHandler_->Connected()) return 0;
    const std::size_t chunk = static_cast<std::size_t>(std::max(1, RecvBufferSize));
    long long received = 0;
    do {
        if (!ioHandler_->Readable(timeoutMs)) return std::nullopt;
        // Received straight into the input buffer.
        char* room = inputBuffer_.Reserve(chunk);
        try {
            received = ioHandler_->Recv(room, chunk);
        } catch (...) {
            inputBuffer_.Commit(0);
            throw;
        }
        inputBuffer_.Commit(static_cast<std::size_t>(std::max(0LL, received)));
        if (received == 0) {
            closedGracefully_ = true;
        } else if (received < 0) {
            int err = static_cast<int>(-received);
            if (err == 10058 || err == 10053) {
                DropSocket();
                if (inputBuffer_.Empty()) TNetStack::RaiseSocketError(err);
            } else {
                TNetStack::RaiseSocketError(err);
            }
            received = 0;
        }
        CheckForDisconnect(true, false);
    } while (received == 0 && ioHandler_ && ioHandler_->Connected());
    return static_cast<int>(received);
}

void TNetTCPConnection::WriteBuffer(const char* data, std::size_t size) {
    if (size == 0) return;
    CheckForDisconnect(true, true);
    // Sends never block: when nothing can go, the wait runs in slices with
    // the window's messages handled between them, and gives up once no byte
    // has moved for ReadTimeout (a peer that stopped reading).
    using Clock = std::chrono::steady_clock;
    const int timeout = ReadTimeout > 0 ? ReadTimeout : -1;
    auto lastMoved = Clock::now();
    long long moved = 0;
    while (size > 0) {
        long long sent = ioHandler_->Send(data, size);
        if (sent == -TNetIOHandler::WouldBlock) {
            int wait = -1;
            if (timeout >= 0) {
                auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastMoved).count();
                wait = static_cast<int>(std::max<long long>(0, timeout - waited));
            }
            if (wait == 0 || !ioHandler_->Writable(wait)) {
                // Part of the block may have gone: the stream is out of step.
                DropSocket();
                TNetStack::RaiseSocketError(10060);
            }
            continue;
        }
        TNetAntiFreezeBase::DoProcess(false);
        if (sent == 0) closedGracefully_ = true;
        CheckForDisconnect(true, false);
        if (sent < 0) {
            int err = static_cast<int>(-sent);
            if (err == 10058 || err == 10053 || err == 10054) DropSocket();
            TNetStack::RaiseSocketError(err);
        }
        moved += sent;
        data += sent;
        size -= static_cast<std::size_t>(sent);
        lastMoved = Clock::now();
    }
    // One progress report per block, however many calls it took, as when a
    // send blocked until the whole block had gone.
    DoWork(TWorkMode::wmWrite, moved);
}

std::string TNetTCPConnection::ShownLine(const std::string& line) const { return ShowCommandLine(line); }

void TNetTCPConnection::CheckCommandLine(const std::string& line) const {
    // A line break would end the command early and send the rest as another
    // command; a NUL cuts it short on many servers.
    if (!IsSafeCommandLine(line)) throw ENetCommandRefused(ShownLine(line));
}

void TNetTCPConnection::SendLine(const std::string& text) {
    CheckCommandLine(text);
    std::string block = text;
    block += "\r\n";
    WriteBuffer(block.data(), block.size());
    if (OnLineSent) OnLineSent(ShownLine(text));
}

std::string TNetTCPConnection::ReadTextLine() {
    while (true) {
        std::size_t taken = 0;
        std::optional<std::string> line = inputBuffer_.TakeLine(taken);
        if (line) {
            DoWork(TWorkMode::wmRead, static_cast<long long>(taken));
            return std::move(*line);
        }
        CheckForDisconnect(true, true);
        ReadFromStack();
    }
}

int TNetTCPConnection::ReadReply(const TReplyCodes& accepted) {
    using Clock = std::chrono::steady_clock;
    // A server must not hold a reply open for ever (lines trickling in, each
    // within the wait's time-out) nor make it endless: the reply ends within
    // ReadTimeout of its first byte and within MaxReplySize bytes.
    auto fail = [this](auto error) {
        DropSocket();
        inputBuffer_.Clear();
        throw error;
    };
    TNetReplyCollector collector;
    std::size_t replyBytes = 0;
    std::optional<Clock::time_point> deadline;
    while (true) {
        if (!deadline && ReadTimeout > 0 && !inputBuffer_.Empty())
            deadline = Clock::now() + std::chrono::milliseconds(ReadTimeout);
        std::size_t taken = 0;
        std::optional<std::string> line = inputBuffer_.TakeLine(taken);
        if (line) {
            DoWork(TWorkMode::wmRead, static_cast<long long>(taken));
            replyBytes += taken;
            if (replyBytes > MaxReplySize) fail(ENetReplyTooLong());
            if (collector.AddLine(*line)) break;
            if (collector.Lines().size() > MaxReplyLines) fail(ENetReplyTooLong(ENetReplyTooLong::Lines{}));
            continue;
        }
        if (inputBuffer_.Size() + replyBytes > MaxReplySize) fail(ENetReplyTooLong());
        CheckForDisconnect(true, true);
        int wait = ReadTimeout > 0 ? ReadTimeout : -1;
        if (deadline) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            if (left <= 0) fail(ENetReplyTimeout());
            wait = static_cast<int>(std::min<long long>(wait, left));
        }
        if (!ReceiveWithin(wait)) {
            if (deadline) fail(ENetReplyTimeout());
            throw ENetReadTimeout();
        }
    }
    if (OnReplyRead) OnReplyRead(collector.Lines());
    lastReply_ = ParseReplyLines(collector.Lines());
    if (!accepted.empty() && std::find(accepted.begin(), accepted.end(), lastReply_.NumericCode) == accepted.end())
        throw ENetProtocolReplyError(lastReply_.NumericCode, RefusedReplyMessage(lastReply_));
    return lastReply_.NumericCode;
}

int TNetTCPConnection::SendCommand(const std::string& text, const TReplyCodes& accepted) {
    SendLine(text);
    return ReadReply(accepted);
}

void TNetTCPConnection::SendStream(TNetStream& stream) {
    long long left = stream.Size() - stream.Position();
    BeginWork(TWorkMode::wmWrite, left);
    try {
        const long long chunk = std::max(1, SendBufferSize);
        while (true) {
            std::size_t want = static_cast<std::size_t>(std::min(left, chunk));
            if (want == 0) break;
            std::string_view bytes = stream.Read(want);
            if (bytes.empty()) throw ENetNoDataToRead();
            WriteBuffer(bytes.data(), bytes.size());
            left -= static_cast<long long>(bytes.size());
        }
    } catch (...) {
        // An error of the end handler replaces the sending error.
        EndWork(TWorkMode::wmWrite);
        throw;
    }
    EndWork(TWorkMode::wmWrite);
}

void TNetTCPClient::OpenConnection() {
    PrepareHandler();
    try {
        IOHandler()->ConnectClient(Host, Port, BoundIP, BoundPort, ConnectTimeout);
    } catch (...) {
        DropSocket();
        throw;
    }
}

std::string TNetTCPClient::PeerIP() const {
    const TNetIOHandler* handler = IOHandler();
    return handler && handler->Connected() ? handler->PeerIP() : std::string();
}
