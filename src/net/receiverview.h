#pragma once

#include <QString>

// What the receiver reads from and shows on the window.
class ReceiverView {
public:
    virtual QString RcvPortText() const = 0; // listening port box
    virtual void SetRcvOpenEnabled(bool enabled) = 0;
    virtual QString ReplyText() const = 0; // reply box
    virtual bool HexDisplay() const = 0;   // "HEX表示" selected
    virtual void AddList2Msg(const QString& text) = 0;

protected:
    ~ReceiverView() = default;
};
