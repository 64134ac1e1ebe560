#pragma once

#include <QString>

// What the client link reads from and shows on the window; the window implements it, so the
// link itself owns no widgets.
class ClientView {
public:
    virtual QString PayloadText() const = 0;  // the hex payload box
    virtual QString HostText() const = 0;     // remote host box
    virtual QString PortText() const = 0;     // remote port box
    virtual QString IntervalText() const = 0; // continuous-send interval box
    virtual bool HexDisplay() const = 0;      // "HEX表示" selected
    virtual void SetCountCaption(const QString& caption) = 0;
    virtual bool SendButtonEnabled() const = 0;
    virtual void SetSendButtonEnabled(bool enabled) = 0;
    // Continuous sending on: its timer runs, start and quit locked, stop unlocked (and back).
    virtual void SetContinuousSending(bool on) = 0;
    virtual void AddList1Msg(const QString& text) = 0;

protected:
    ~ClientView() = default;
};
