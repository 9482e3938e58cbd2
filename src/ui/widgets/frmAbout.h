#pragma once
// The about box.

#include <QDialog>

namespace evtrak {

class TfmAbout : public QDialog
{
    Q_OBJECT
public:
    explicit TfmAbout(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_texture;
};

} // namespace evtrak
