#pragma once

#include <QObject>
#include <QString>

namespace virellock {

// An open-file dialog as the main window holds it: its title, its one filter and, after a run,
// the chosen file. It draws nothing; HostServices::RunFileDialog() shows it.
class OpenFileDialog : public QObject
{
    Q_OBJECT

public:
    OpenFileDialog(const QString& objectName, const QString& title, QObject* parent);

    QString title() const { return m_title; }
    // The filter as Qt writes it: a description and the patterns it lists.
    QString filter() const;

    QString chosenFileName() const { return m_chosenFileName; }
    void setChosenFileName(const QString& path) { m_chosenFileName = path; }

private:
    QString m_title;
    QString m_filterDescription;
    QString m_chosenFileName;
};

} // namespace virellock
