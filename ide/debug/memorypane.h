#pragma once

// The Memory pane: 256 bytes of the simulated board's memory as hex and
// characters from an address or symbol the user types. A typed hex byte is
// written into the simulated memory; bytes that differ from the last stop
// are drawn highlighted. While the program runs the debugger feeds it the
// session's snapshot window, so it never reads the machine itself then.

#include "shell/zkbars.h"

#include <cstdint>
#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QTableWidget;
class QTableWidgetItem;

namespace qorb::debug {
class Session;
struct Snapshot;
} // namespace qorb::debug

namespace oxbrin {

class CMemoryPane : public CZKSCW {
    Q_OBJECT
public:
    static constexpr int kColumns = 16;
    static constexpr int kRows = 16;
    static constexpr int kBytes = kColumns * kRows;

    CMemoryPane(int id, QSize initialSize, QWidget* parent);

    // The session the pane shows, or none (the pane empties).
    void SetSession(qorb::debug::Session* session);
    // The program stopped: read the window and mark what changed since the
    // stop before.
    void ShowStopped();
    // The program is running: the snapshot's window, if it is the pane's.
    void ShowRunning(const qorb::debug::Snapshot& snap);
    // Shows memory from an address, an expression or a symbol; false with the
    // message in the pane's status line when it cannot be evaluated.
    bool GoTo(const QString& text);

    std::uint16_t Address() const { return address_; }
    QTableWidget* Table() const { return table_; }
    QLineEdit* AddressField() const { return addressField_; }
    QLabel* StatusLine() const { return status_; }
    // The byte shown at `address`, when it is in the window.
    std::optional<std::uint8_t> ShownByte(std::uint16_t address) const;
    bool IsHighlighted(std::uint16_t address) const;

private:
    void Fill(const std::vector<std::uint8_t>& bytes);
    void OnItemChanged(QTableWidgetItem* item);

    qorb::debug::Session* session_ = nullptr;
    QLineEdit* addressField_;
    QTableWidget* table_;
    QLabel* status_;
    std::uint16_t address_ = 0;
    std::vector<std::uint8_t> lastStop_; // all memory at the last stop
    std::vector<std::uint8_t> before_;   // all memory at the stop before it
    std::vector<std::uint8_t> shown_;    // the window's bytes
    bool filling_ = false;
};

} // namespace oxbrin
