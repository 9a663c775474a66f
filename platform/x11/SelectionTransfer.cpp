#include "platform/x11/SelectionTransfer.h"

#include "platform/x11/XcbAtoms.h"

#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Pieces in which a property is read: 1 MiB a request.
constexpr std::uint32_t kPieceLongs = 256 * 1024;
// How often the selection owner is checked while waiting: an owner that exits without
// answering is noticed at once instead of after the whole idle time.
constexpr milliseconds kOwnerCheck{200};

// Frees an xcb reply when it goes out of scope.
template <typename T> struct Reply {
    T *p;
    explicit Reply(T *reply)
        : p(reply) {}
    ~Reply() { std::free(p); }
    Reply(const Reply &) = delete;
    Reply &operator=(const Reply &) = delete;
    T *operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

} // namespace

std::unique_ptr<SelectionTransfer> SelectionTransfer::open(const QByteArray &display) {
    int screenNumber = 0;
    xcb_connection_t *connection =
        xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screenNumber);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection)
            xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(connection);
        return nullptr;
    }
    // Never mapped: it only receives the converted content as a property.
    const xcb_window_t window = xcb_generate_id(connection);
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, it.data->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      &events);
    std::unique_ptr<SelectionTransfer> transfer(new SelectionTransfer(connection, window));
    transfer->clipboard_ = transfer->atom("CLIPBOARD");
    transfer->property_ = transfer->atom("STIQLET_CLIPBOARD");
    transfer->incr_ = transfer->atom("INCR");
    transfer->targets_ = transfer->atom("TARGETS");
    if (xcb_connection_has_error(connection) || !transfer->clipboard_ || !transfer->property_ ||
        !transfer->incr_ || !transfer->targets_)
        return nullptr;
    return transfer;
}

SelectionTransfer::SelectionTransfer(xcb_connection_t *connection, std::uint32_t window)
    : connection_(connection)
    , window_(window) {}

SelectionTransfer::~SelectionTransfer() {
    xcb_destroy_window(connection_, window_);
    xcb_disconnect(connection_);
}

std::uint32_t SelectionTransfer::atom(const QByteArray &name) {
    return internAtom(connection_, name.constData());
}

QByteArray SelectionTransfer::atomName(std::uint32_t atom) {
    if (atom == XCB_ATOM_NONE)
        return {};
    Reply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, atom), nullptr));
    if (!reply)
        return {};
    return QByteArray(xcb_get_atom_name_name(reply.p), xcb_get_atom_name_name_length(reply.p));
}

std::uint32_t SelectionTransfer::selectionOwner() {
    Reply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
        connection_, xcb_get_selection_owner(connection_, clipboard_), nullptr));
    return reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
}

bool SelectionTransfer::takeProperty(QByteArray &data, std::uint32_t &type) {
    data.clear();
    type = XCB_ATOM_NONE;
    std::uint32_t offset = 0; // in 32-bit units, as the request counts
    for (;;) {
        // The server deletes the property with the request that reads its last byte.
        Reply<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(connection_,
                                   xcb_get_property(connection_, 1, window_, property_,
                                                    XCB_GET_PROPERTY_TYPE_ANY, offset, kPieceLongs),
                                   nullptr));
        if (!reply)
            return false;
        type = reply->type;
        const int length = xcb_get_property_value_length(reply.p);
        if (data.size() + length > kMaxSelectionBytes)
            return false;
        data.append(static_cast<const char *>(xcb_get_property_value(reply.p)), length);
        if (reply->bytes_after == 0 || length == 0)
            return true;
        offset += std::uint32_t(length) / 4;
    }
}

QByteArrayList SelectionTransfer::targets(int cancelFd, const SelectionLimits &limits,
                                          SelectionData::Status *status) {
    const SelectionData reply = convertAtom(targets_, cancelFd, limits);
    if (status)
        *status = reply.status;
    QByteArrayList names;
    if (reply.status != SelectionData::Status::Ok)
        return names;
    const auto *atoms = reinterpret_cast<const std::uint32_t *>(reply.data.constData());
    const qsizetype count = reply.data.size() / qsizetype(sizeof(std::uint32_t));
    // All the name requests first, then the replies: one round trip for the whole list.
    std::vector<xcb_get_atom_name_cookie_t> cookies;
    for (qsizetype i = 0; i < count; ++i) {
        if (atoms[i] != XCB_ATOM_NONE)
            cookies.push_back(xcb_get_atom_name(connection_, atoms[i]));
    }
    for (const xcb_get_atom_name_cookie_t &cookie : cookies) {
        Reply<xcb_get_atom_name_reply_t> name(
            xcb_get_atom_name_reply(connection_, cookie, nullptr));
        if (name)
            names.append(
                QByteArray(xcb_get_atom_name_name(name.p), xcb_get_atom_name_name_length(name.p)));
    }
    return names;
}

SelectionData SelectionTransfer::convert(const QByteArray &target, int cancelFd,
                                         const SelectionLimits &limits, const PieceSink &sink) {
    const std::uint32_t targetAtom = atom(target);
    if (targetAtom == XCB_ATOM_NONE) {
        SelectionData none;
        none.status = xcb_connection_has_error(connection_) ? SelectionData::Status::Failed
                                                            : SelectionData::Status::Refused;
        return none;
    }
    return convertAtom(targetAtom, cancelFd, limits, sink);
}

SelectionData SelectionTransfer::convertAtom(std::uint32_t target, int cancelFd,
                                             const SelectionLimits &limits, const PieceSink &sink) {
    using Status = SelectionData::Status;
    SelectionData result;
    auto finish = [&](Status status) {
        result.status = status;
        if (status != Status::Ok)
            result.data.clear();
        // Leave nothing behind for the next conversion to mistake for its own.
        xcb_delete_property(connection_, window_, property_);
        xcb_flush(connection_);
        return result;
    };

    xcb_delete_property(connection_, window_, property_);
    const std::uint32_t owner = selectionOwner();
    if (owner == XCB_WINDOW_NONE)
        return finish(xcb_connection_has_error(connection_) ? Status::Failed : Status::Refused);
    xcb_convert_selection(connection_, window_, clipboard_, target, property_, XCB_CURRENT_TIME);
    xcb_flush(connection_);

    const Clock::time_point started = Clock::now();
    Clock::time_point progressed = started;
    Clock::time_point ownerCheck = started + kOwnerCheck;
    bool incremental = false; // an INCR transfer has begun: chunks come as new property values
    std::uint32_t type = XCB_ATOM_NONE;
    QByteArray piece;
    qsizetype received = 0;

    for (;;) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection_)) {
            Reply<xcb_generic_event_t> owned(event);
            const int kind = event->response_type & 0x7f;
            if (kind == XCB_SELECTION_NOTIFY && !incremental) {
                const auto *notify = reinterpret_cast<xcb_selection_notify_event_t *>(event);
                if (notify->requestor != window_ || notify->selection != clipboard_ ||
                    notify->target != target)
                    continue;
                if (notify->property == XCB_ATOM_NONE)
                    return finish(Status::Refused);
                if (!takeProperty(piece, type))
                    return finish(xcb_connection_has_error(connection_) ? Status::Failed
                                                                        : Status::GaveUp);
                progressed = Clock::now();
                if (type == incr_) {
                    // Reading the announcement deleted it, which asks for the first chunk.
                    incremental = true;
                    continue;
                }
                if (sink)
                    sink(piece);
                else
                    result.data = std::move(piece);
                result.type = atomName(type);
                return finish(Status::Ok);
            }
            if (kind == XCB_PROPERTY_NOTIFY && incremental) {
                const auto *notify = reinterpret_cast<xcb_property_notify_event_t *>(event);
                if (notify->window != window_ || notify->atom != property_ ||
                    notify->state != XCB_PROPERTY_NEW_VALUE)
                    continue;
                if (!takeProperty(piece, type) || received + piece.size() > kMaxSelectionBytes)
                    return finish(xcb_connection_has_error(connection_) ? Status::Failed
                                                                        : Status::GaveUp);
                progressed = Clock::now();
                if (piece.isEmpty()) { // a chunk of length zero ends the transfer
                    result.type = atomName(type);
                    return finish(Status::Ok);
                }
                received += piece.size();
                if (sink)
                    sink(piece);
                else
                    result.data.append(piece);
            }
        }
        if (xcb_connection_has_error(connection_))
            return finish(Status::Failed);

        const Clock::time_point now = Clock::now();
        if (now - progressed >= limits.idle || now - started >= limits.total)
            return finish(Status::GaveUp);
        if (now >= ownerCheck) {
            if (selectionOwner() != owner)
                return finish(Status::GaveUp);
            ownerCheck = now + kOwnerCheck;
            continue; // the round trip may have queued events: handle them before sleeping
        }

        const Clock::time_point wake =
            std::min({progressed + limits.idle, started + limits.total, ownerCheck});
        const auto wait = std::chrono::duration_cast<milliseconds>(wake - now) + milliseconds(1);
        pollfd fds[2] = {{xcb_get_file_descriptor(connection_), POLLIN, 0}, {cancelFd, POLLIN, 0}};
        const int ready = ::poll(fds, cancelFd >= 0 ? 2 : 1, int(wait.count()));
        if (ready < 0 && errno != EINTR)
            return finish(Status::Failed);
        if (cancelFd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
            return finish(Status::Cancelled);
    }
}

} // namespace platform
