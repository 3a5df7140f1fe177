// A simulated key buffer device on a pseudo-terminal.
//
// The simulator owns the master side of a pty and serves the device's
// protocol on it; clients open the port side (PortPath()) like any serial
// port.  It plays the device in tests (in-process, on its own thread),
// benchmarks and the demo (the vantri-devsim program).
//
// Protocol, as the device honours it:
//   0x05  answer with the buffer as 8192 upper-case hex characters, byte 0
//         first;
//   0x06  the next 4096 bytes, whatever they are, are the new buffer; once
//         all have arrived it replaces the buffer (and is saved to
//         Options::saveFile);
//   any other byte outside an exchange is ignored.
// A write exchange that receives no byte for 2 s is abandoned, so a client
// that gave up half-way does not leave the device swallowing the next read
// request as data.
//
// Like real firmware it frames, checks and acknowledges nothing, and it
// handles what it receives strictly in order: bytes that arrive while it is
// busy (sending an answer, storing a buffer) wait in a receive buffer of
// ReceiveBufferSize bytes and are handled once it is free; beyond that they
// are lost, as in a UART overrun.  So a second 0x05 sent during an answer
// gets a second answer after the first.
//
// Fault modes bend that behaviour the way real devices and cables fail.
// The simulator survives the port side being opened and closed any number
// of times.  POSIX only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantri::sim {

struct Fault {
    enum class Kind {
        Silent,     // never answers 0x05
        Short,      // sends only the first n characters of a response, then nothing
        Stall,      // pauses ms after the first n characters of a response, then the rest
        Garbage,    // sends 'G' in place of response character n (from 0)
        Extra,      // sends n more hex characters after the 8192
        Hangup,     // closes its side after n bytes crossed the line, either way
        Chatter,    // sends one byte back for every 16 received during a write
        Flip,       // stores byte n (from 0) of each write inverted: a cell that fails
        BusyDrop,   // discards everything that arrives while it is answering
        Double,     // answers every read request twice, back to back
        SlowStore,  // busy for ms after the last byte of a write before it stores it
        // Its output reaches the client n bytes at a time, at least ms apart,
        // as a USB adapter hands on what it received (its latency timer).
        Burst,
    };
    Kind kind = Kind::Silent;
    std::uint32_t n = 0;
    std::uint32_t ms = 0;
};

// "silent", "short:N", "stall:N:MS", "garbage:N", "extra:N", "hangup:N",
// "chatter", "flip:N", "busy-drop", "double", "slow-store:MS", "burst:N:MS".
// nullopt with `error` set for anything else.
std::optional<Fault> ParseFault(std::string_view text, std::string& error);
// The other way: "short:100", as the fault is written on the command line.
std::string FaultText(const Fault& fault);

// Byte i = (i * 7 + 3) mod 256.
std::string DefaultBuffer();

// Bytes the device holds for handling while it is busy.
inline constexpr std::size_t ReceiveBufferSize = 16384;

struct Options {
    std::string link;                // make this path a symlink to the port side
    std::string buffer;              // 4096 bytes to start with; empty: DefaultBuffer()
    std::filesystem::path saveFile;  // write each completed buffer here
    std::uint32_t lineRate = 0;      // pace output at 10 bits a byte; 0: as fast as it goes
    std::filesystem::path logFile;   // a line per byte received and per event
    std::vector<Fault> faults;
};

// Empty when `options` can be served, else what is wrong, naming the option
// as the program spells it ("--fault garbage:9000: ...").
std::string CheckOptions(const Options& options);

// One byte the device received, and when (since the simulator started).
struct Received {
    std::chrono::microseconds at;
    std::uint8_t byte;
};

// The line settings as the device's side of the pty reads them (tcgetattr),
// that is, as the client set them up.  A pty carries every byte whatever
// they say, and keeps 8 data bits and no parity whatever is asked.
struct LineSettings {
    std::uint32_t baud = 0;  // the output speed; 0: not one of the standard rates
    int dataBits = 8;
    int stopBits = 1;
    char parity = 'N';    // 'N', 'E' (PARENB) or 'O' (PARENB and PARODD)
    bool rtsCts = false;  // CRTSCTS
    bool ixon = false;    // XON/XOFF from the device pause the client's output
    bool ixoff = false;   // the client sends XON/XOFF
    bool operator==(const LineSettings&) const = default;
};

// "115200 8N1, no flow control"; "9600 8N2, flow control RTS/CTS IXON IXOFF".
std::string LineSettingsText(const LineSettings& settings);

class Simulator {
  public:
    // Creates the pty and starts serving on a thread of its own.  nullptr with
    // `error` set when it cannot (no pty, link path taken, unusable option).
    static std::unique_ptr<Simulator> Start(const Options& options, std::string& error);
    ~Simulator();  // stops serving, removes the link

    const std::string& PortPath() const;  // the port side, "/dev/pts/N"
    std::string Buffer() const;           // the current 4096-byte buffer
    int WritesCompleted() const;          // write exchanges fully received
    // The bytes received from the latest write request the device has taken
    // (0x06 handled outside a write) on, or from the start before any; in
    // order, at most 8194.  Recorded as they arrive, so bytes still waiting
    // in the receive buffer are here too.
    std::vector<Received> ReceivedBytes() const;
    bool HungUp() const;  // the hangup fault has closed the line
    // The line settings last seen on the port: read when bytes arrive and
    // every 100 ms, and logged ("line settings: ...") whenever they change.
    LineSettings LastLineSettings() const;

  private:
    struct Impl;
    explicit Simulator(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantri::sim
