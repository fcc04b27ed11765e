#include "app/RenameFlow.h"

#include <QTimer>

void RenameFlow::setTitleDraft(const QString &draft)
{
    if (m_titleDraft == draft)
        return;
    m_titleDraft = draft;
    Q_EMIT titleDraftChanged();
}

void RenameFlow::setTitleFocused(bool focused)
{
    if (m_titleFocused == focused)
        return;
    m_titleFocused = focused;
    Q_EMIT titleFocusedChanged();
}

void RenameFlow::setRenaming(const QString &id)
{
    if (m_renaming == id)
        return;
    m_renaming = id;
    Q_EMIT renamingChanged();
}

void RenameFlow::start(const QString &id, const QString &title)
{
    setTitleFocused(false);
    setTitleDraft(title);
    setRenaming(id);
    QTimer::singleShot(0, this, [this, id] {
        if (m_renaming == id)
            setTitleFocused(true);
    });
}

void RenameFlow::finish()
{
    if (m_renaming.isEmpty())
        return;
    const QString id = m_renaming;
    const QString title = m_titleDraft;
    setTitleFocused(false);
    setRenaming(QString());
    Q_EMIT renameRequested(id, title);
}

void RenameFlow::cancel()
{
    setTitleFocused(false);
    setRenaming(QString());
}

void RenameFlow::focusLost(const QString &id)
{
    if (!m_renaming.isEmpty() && m_renaming == id)
        finish();
}
