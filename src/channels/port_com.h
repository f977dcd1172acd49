// The serial channel: one serial port with its own read thread. It opens a port chosen by
// number ("COMn") or by device path, applies line settings and time-outs from a parameter
// record, hands everything received to a call-back on the read thread, and writes blocks for
// the caller without ever hanging it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "channels/thread_base.h"
#include "platform/critical_section.h"
#include "platform/os_error.h"
#include "platform/serial_device.h"

// The ten serial parameters, in the order the owners copy them.
struct tagComPortParam {
    uint32_t dwBaudRate = 9600;
    int32_t nByteSize = 8;     // data bits, 5..8
    int32_t nParity = 0;       // 0 none, 1 odd, 2 even, 3 mark, 4 space; others as 0
    int32_t nStopBits = 0;     // 0 one, 1 one and a half, 2 two
    int32_t nFlowControl = 2;  // 0 XON/XOFF, 1 RTS/CTS, any other value none
    uint32_t ReadIntervalTimeout = 0xFFFFFFFF;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};
static_assert(sizeof(tagComPortParam) == 40, "ten 32-bit fields");

namespace kem::channels {

// The port number that a name such as "COM3" or "com12" selects: the name is longer than
// three units, starts with "com" in any letter case and has a decimal digit as its fourth
// unit; the digits from there are read as a number (saturating at INT32_MAX). Nothing for any
// other name, which is a path to open verbatim. Pure.
std::optional<int32_t> ComNumberFromName(std::u16string_view name);

// The device path of port `number` (1..256): COM1 is /dev/ttyS0, COMn is /dev/ttyS(n-1). Pure.
std::u16string ComDevicePath(int32_t number);

// The line settings a parameter record asks for, DTR control as given. Pure.
// Nothing when the record cannot be expressed at all (stop bits other than 0, 1, 2); the
// result may still fail kem::platform::ValidLineSettings.
std::optional<kem::platform::SerialLineSettings> LineSettingsFromParam(const tagComPortParam& param,
                                                                       bool dtr_enable);

// How a read burst collects bytes, taken from the record's three read time-outs.
//  - Interval 0xFFFFFFFF with both totals 0 (the default): "immediate", the burst takes what
//    the driver holds and never waits.
//  - Otherwise, once the driver is empty the burst waits for more: each wait is at most 50 ms,
//    at most the interval time-out counted from the last byte (when the interval is neither 0
//    nor 0xFFFFFFFF), and never past the total time-out (multiplier x free buffer bytes +
//    constant, from the start of the burst; 0 means none). A wait that brings nothing, a full
//    buffer or the end of the total time ends the burst.
struct ReadBurstRule {
    bool immediate = true;
    uint32_t interval_ms = 0;  // 0: no limit between bytes
    uint32_t total_multiplier_ms = 0;
    uint32_t total_constant_ms = 0;

    // The total time-out of a burst that asks for `requested` bytes, saturating; 0: none.
    uint64_t TotalMs(int32_t requested) const;
};

// Longest single wait inside a burst, and the pause between offers of a full buffer.
constexpr int kBurstWaitCapMs = 50;

// The burst rule of a record's read time-outs. Pure.
ReadBurstRule ReadBurstRuleFromParam(const tagComPortParam& param);

// Drops the first `used` of the `held` bytes at `buffer`, as a receive call-back reported them
// taken, and returns how many stay. 0 keeps them all; a negative count or one of `held` or more
// takes them all, so a faulty call-back can never wedge the buffer. Pure.
int32_t DropConsumed(uint8_t* buffer, int32_t held, int32_t used);

}  // namespace kem::channels

class CKemPortCom : public CKemThreadBaseClass {
public:
    // Receive call-back, called on the read thread outside m_csIo with the port path, the bytes
    // held (old ones kept by an earlier call first), their count and m_pUser. It returns how
    // many bytes it consumed: 0 keeps them all for the next call, 0 < r < count drops the first
    // r, r >= count or r < 0 drops all. Kept bytes come again with the next bytes read; a full
    // buffer (4096 bytes) that is kept is offered again every 50 ms, and nothing more is read
    // until the call-back takes some.
    using ReceiveProc = int32_t (*)(const char16_t* port_path, const uint8_t* data, int32_t count,
                                    void* user);

    // Open results.
    static constexpr int32_t kOpened = 1;
    static constexpr int32_t kAlreadyOpen = 2;
    static constexpr int32_t kOpenDeviceFailed = 0;  // last_error() holds the errno
    static constexpr int32_t kBadPortNumber = -1;
    static constexpr int32_t kReadStateFailed = -2;   // not a terminal: the line cannot be read
    static constexpr int32_t kApplyStateFailed = -3;  // invalid settings or refused by the driver
    static constexpr int32_t kStartFailed = -4;
    static constexpr int32_t kNoMemory = -5;

    // Write results besides the count written.
    static constexpr int32_t kWriteNotOpen = -2;
    static constexpr int32_t kWriteFailed = -3;  // timed out, or the device failed or is gone

    // Exit codes of the read thread.
    static constexpr uint32_t kReadStopped = 0;     // asked to stop
    static constexpr uint32_t kReadDeviceGone = 1;  // hang-up, unplugged, read error
    static constexpr uint32_t kReadWaitFailed = 2;  // the wait itself failed

    CKemPortCom();
    // Closes the port; the read thread is gone before any member is.
    ~CKemPortCom() override;

    // Selects the port by name: "COMn" in any letter case picks port n (clamped to 1..256),
    // any other text is a device path opened verbatim; the same text as the held path changes
    // nothing, any other closes the port first. Returns 1. Owner's thread.
    int32_t SetPortName(const char16_t* name);

    // Selects port `number`, clamped to 1..256; a different number closes the port and drops
    // a held path. Returns 1. Owner's thread.
    int32_t SetPortNumber(int32_t number);

    // Takes the ten parameters; an open port is closed, left for 100 ms and opened again with
    // them. Returns 0. Owner's thread.
    int32_t SetCommParam(const tagComPortParam& param);

    // Opens the port and starts the read thread: kOpened, kAlreadyOpen, or one of the failure
    // codes above, the channel then closed. Owner's thread.
    int32_t Open();

    // Stops the read thread (1000 ms, then forced) and closes the device. Returns 0; safe when
    // closed. Owner's thread.
    int32_t Close();

    // Writes `length` bytes: the count written; 0 for null data or length <= 0; kWriteNotOpen
    // when not open; kWriteFailed when the device failed, or no byte could be written for
    // m_nWriteStallMs (or the record's write time-outs ran out when they are set); the bytes
    // that did go out before such a failure are not reported. Then waits for the output to
    // drain, at most as long again, and returns the count whatever the drain did (a line held
    // by flow control never hangs the caller). Owner's thread.
    int32_t Write(const void* data, int32_t length);

    // The send entry of the owners; as Write.
    int32_t Send(const void* data, int32_t length);

    // 1 when the device is held and the read thread runs, else 0. Owner's thread.
    int32_t IsOpen();

    // DTR control: while open, applied to the line at once; closed, stored for the next Open.
    // Returns the new m_bDtrEnable. Owner's thread.
    int32_t SetDtr(int32_t enable);

    // m_bDtrEnable, refreshed from the open line. Owner's thread.
    int32_t GetDtr();

    // The errno of the last failed Open or Write (kind kBusy, kNotFound, ...). Owner's thread.
    const kem::platform::OsError& last_error() const { return m_LastError; }

    // For owners and tests: the selection, the record, and the open device (null when closed).
    int32_t port_number() const { return m_nPortNumber; }
    const std::optional<std::u16string>& port_path() const { return m_pszPortPath; }
    const tagComPortParam& param() const { return m_Param; }
    const kem::platform::SerialDevice* device() const { return m_hCom.get(); }

    // Called on the read thread with m_pUser when the thread ends on its own: the device went
    // away (hang-up, unplugged, read error) or waiting on it failed, after the last bytes were
    // delivered; never for Close. Either way the port reads nothing more.
    // It should only post to the owner, who then calls Close on its own thread.
    using GoneProc = void (*)(void* user);

    // Installed by the owner before Open.
    ReceiveProc m_pfnOnReceived = nullptr;
    GoneProc m_pfnOnGone = nullptr;
    void* m_pUser = nullptr;
    int32_t m_bAutoOpen = 0;      // kept for the owners; Write never opens a closed port
    int32_t m_bIgnoreRxChar = 0;  // no effect here: every wake-up of the reader is for data
    int32_t m_bDtrEnable = 0;

    // With a value above 0, bytes the call-back kept are offered again after this many
    // milliseconds even when nothing new arrives (an owner that holds back while its consumer
    // is full needs them later without more traffic). 0: kept bytes wait for the next bytes read.
    // Set before Open.
    int32_t m_nKeptOfferMs = 0;

    // How long a write may make no progress before it fails, when the record sets no write
    // time-out. Tests shorten it.
    int32_t m_nWriteStallMs = 3000;

protected:
    // The read thread: waits for data or the stop event, reads bursts under m_csIo and
    // delivers them; ends on stop (kReadStopped) or when the device goes away.
    static uint32_t ReadThreadProc(void* self);

private:
    using Clock = std::chrono::steady_clock;

    struct BurstResult {
        int32_t bytes = 0;     // read in this burst
        bool stopped = false;  // the stop event came during the burst
        bool gone = false;     // the device went away
        bool hang_up = false;  // the last wait reported a hang-up or an error
    };

    uint32_t ReadLoop();
    BurstResult ReadBurst(kem::platform::Event* stop, int fd, bool hang_up);
    // Waits inside a burst as m_ReadRule says; false when the burst is over.
    bool WaitForMore(kem::platform::Event* stop, int fd, Clock::time_point burst_start,
                     Clock::time_point last_byte, int32_t requested, BurstResult& result);
    void Deliver();
    // Closes the device after a failed step of Open and returns `code`.
    int32_t FailOpen(int32_t code);

    int32_t m_nPortNumber = 1;
    std::optional<std::u16string> m_pszPortPath;
    std::unique_ptr<kem::platform::SerialDevice> m_hCom;
    kem::platform::CriticalSection m_csIo;
    tagComPortParam m_Param;
    int32_t m_nRecvLen = 0;
    int32_t m_nRecvBufSize = 4096;
    std::unique_ptr<uint8_t[]> m_pRecvBuf;
    kem::platform::OsError m_LastError;
    kem::channels::ReadBurstRule m_ReadRule;  // taken from m_Param at Open, for the read thread
    std::atomic<bool> m_bDeviceGone{false};   // set by the read thread when the device went away
};
