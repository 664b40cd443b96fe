#pragma once

#include <QDialog>
#include <QLabel>
#include <QTextEdit>

// The about dialog's widgets at their fixed places; they belong to the dialog.
class AboutForm
{
public:
    void setup(QDialog *dialog);
    void retranslate(QDialog *dialog);

    QLabel *label = nullptr;
    QTextEdit *LicenseTB = nullptr;
    QLabel *OrvaneIcon = nullptr;
    QLabel *label_2 = nullptr;
    QLabel *GNUIcon = nullptr;
};

// The licence text shipped with the program, as published.
QString licenceText();
// The licence as the dialog shows it: one paragraph per line of the published text.
QString licenceDocument(const QString &plainText);
