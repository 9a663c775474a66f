#pragma once

#include "platform/StyleBook.h"

#include <QWidget>

// A plain panel: a filled rectangle with a one-unit outline, in the look its style names.
class Panel : public QWidget {
    Q_OBJECT
    // The name of the style this panel asks its window's style sheet for.
    Q_PROPERTY(QString styleLookup READ styleLookup WRITE setStyleLookup)
public:
    explicit Panel(QWidget *parent = nullptr);

    QString styleLookup() const { return m_styleLookup; }
    void setStyleLookup(const QString &name) { m_styleLookup = name; }

    const platform::PanelLook &look() const { return m_look; }
    void setLook(const platform::PanelLook &look);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_styleLookup;
    platform::PanelLook m_look = platform::standardPanelLook();
};
