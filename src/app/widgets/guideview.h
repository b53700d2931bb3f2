#pragma once

#include <QGroupBox>

class QToolButton;

/// "Ne yapmalısınız?": the numbered steps of an update, in the compact layout. Once the user
/// has done what the steps ask, or where the steps would crowd out the outcome, the guide folds
/// to its title; one click on the title opens it again.
class GuideView final : public QGroupBox
{
    Q_OBJECT

public:
    explicit GuideView(QWidget *parent = nullptr);

    [[nodiscard]] bool isFolded() const;
    /// Folds the guide when `fold` changes; a choice the user made stays until then.
    void setFoldedByDefault(bool fold);
    /// The height the steps add to the folded guide at `width`.
    [[nodiscard]] int stepsHeightForWidth(int width) const;

private:
    void setFolded(bool folded);

    QToolButton *m_title;
    QWidget *m_steps;
    bool m_foldedByDefault = false;
};
