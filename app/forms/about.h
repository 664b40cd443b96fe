#pragma once

#include <QDialog>

class AboutForm;

// Names the program and its version, the supported models and the licence it ships under.
class about : public QDialog
{
    Q_OBJECT

public:
    explicit about(QWidget *parent);
    ~about() override;

private:
    AboutForm *m_form = nullptr;
};
