#pragma once

#include "pictures/ImageLimits.h"
#include "platform/Clipboard.h"

#include <QByteArray>
#include <QByteArrayList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

struct xcb_connection_t;

namespace platform {

// Most bytes a transfer takes: the largest picture the note holds stored uncompressed at four
// bytes a pixel (a 32-bit bitmap, a PNG without compression), with room for its headers, row
// filters and chunks. An owner that sends more is not believed.
constexpr qsizetype kMaxSelectionBytes = qsizetype(kMaxImagePixels) * 4 + 64 * 1024 * 1024;

// How long a transfer waits for its owner: without progress, and in all.
using SelectionLimits = ClipboardLimits;

// One conversion of the CLIPBOARD selection, as the owner delivered it.
struct SelectionData {
    enum class Status {
        Ok,        // `data` holds the whole content, of type `type`
        Refused,   // the owner has no such content, or there is no owner
        GaveUp,    // the owner stalled, went away during the transfer or sent too much
        Cancelled, // the cancel descriptor became readable
        Failed,    // the connection to the server broke
    };
    Status status = Status::Failed;
    QByteArray data;
    QByteArray type; // the name of the property type the owner used (e.g. UTF8_STRING)
};

// Reads the CLIPBOARD selection on a private X connection, with an unmapped window of its own,
// so that a stalled owner holds up only the thread that reads and never the toolkit's own
// connection. Each call blocks until the owner has delivered, refused or run out of time, or
// until `cancelFd` becomes readable. One object is used by one thread at a time.
class SelectionTransfer {
public:
    // Connects to `display` (the DISPLAY form, e.g. ":0"); null when no connection can be made.
    static std::unique_ptr<SelectionTransfer> open(const QByteArray &display);
    ~SelectionTransfer();
    SelectionTransfer(const SelectionTransfer &) = delete;
    SelectionTransfer &operator=(const SelectionTransfer &) = delete;

    // The names of the targets the owner offers (the TARGETS conversion); an empty list unless
    // `status` (if given) is Ok.
    QByteArrayList targets(int cancelFd, const SelectionLimits &limits,
                           SelectionData::Status *status = nullptr);
    // Receives the content piece by piece as it arrives.
    using PieceSink = std::function<void(const QByteArray &piece)>;

    // The content converted to `target`, incremental transfers included. With `sink`, each
    // piece goes to it as it arrives and `data` stays empty.
    SelectionData convert(const QByteArray &target, int cancelFd, const SelectionLimits &limits,
                          const PieceSink &sink = {});

private:
    SelectionTransfer(xcb_connection_t *connection, std::uint32_t window);
    std::uint32_t atom(const QByteArray &name);
    QByteArray atomName(std::uint32_t atom);
    std::uint32_t selectionOwner();
    // Reads the whole of the transfer property in pieces and deletes it; false on a broken
    // connection.
    bool takeProperty(QByteArray &data, std::uint32_t &type);
    SelectionData convertAtom(std::uint32_t target, int cancelFd, const SelectionLimits &limits,
                              const PieceSink &sink = {});

    xcb_connection_t *connection_;
    std::uint32_t window_;
    std::uint32_t clipboard_ = 0;
    std::uint32_t property_ = 0;
    std::uint32_t incr_ = 0;
    std::uint32_t targets_ = 0;
};

} // namespace platform
