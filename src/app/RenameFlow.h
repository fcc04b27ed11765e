#pragma once

#include <QObject>
#include <QString>

// Renaming one recent link at a time, in place: the draft title, which link
// is being renamed and whether its field has focus. Return and losing focus
// finish; Escape cancels.
class RenameFlow : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString renaming READ renaming NOTIFY renamingChanged)
    Q_PROPERTY(QString titleDraft READ titleDraft WRITE setTitleDraft NOTIFY titleDraftChanged)
    Q_PROPERTY(bool titleFocused READ titleFocused WRITE setTitleFocused NOTIFY titleFocusedChanged)

public:
    using QObject::QObject;

    // Empty when no link is being renamed.
    QString renaming() const { return m_renaming; }
    QString titleDraft() const { return m_titleDraft; }
    void setTitleDraft(const QString &draft);
    bool titleFocused() const { return m_titleFocused; }
    void setTitleFocused(bool focused);

    // Focus follows on the next turn of the loop, once the field exists.
    Q_INVOKABLE void start(const QString &id, const QString &title);
    Q_INVOKABLE void finish();
    Q_INVOKABLE void cancel();
    // The field of `id` lost focus: finishes only if it is still the one renamed.
    Q_INVOKABLE void focusLost(const QString &id);

Q_SIGNALS:
    void renamingChanged();
    void titleDraftChanged();
    void titleFocusedChanged();
    // The state decides what an unchanged or empty title does.
    void renameRequested(const QString &id, const QString &title);

private:
    void setRenaming(const QString &id);

    QString m_renaming;
    QString m_titleDraft;
    bool m_titleFocused = false;
};
