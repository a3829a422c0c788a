#pragma once

// Answers every message box shown while it lives, in order, and notes what each one said
// and whether the options dialog was still on screen at that moment.

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

class MessageBoxes : public QObject
{
public:
    struct Seen
    {
        QString caption;
        QString text;
        bool optionsOpen = false;
    };

    // answers: the button texts to press, one per box; a box beyond them gets its default
    // button.
    explicit MessageBoxes(QStringList answers = {})
        : m_answers(std::move(answers))
    {
        qApp->installEventFilter(this);
    }
    ~MessageBoxes() override { qApp->removeEventFilter(this); }

    const QList<Seen> &seen() const { return m_seen; }
    QStringList texts() const
    {
        QStringList result;
        for (const Seen &s : m_seen)
            result.append(s.text);
        return result;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (!box || event->type() != QEvent::Show)
            return false;
        m_seen.append({ box->windowTitle(), box->text(), optionsOpen() });
        const QString answer = m_answers.isEmpty() ? QString() : m_answers.takeFirst();
        QPointer<QMessageBox> guard(box);
        QTimer::singleShot(0, box, [guard, answer] {
            if (guard)
                press(guard, answer);
        });
        return false;
    }

private:
    static bool optionsOpen()
    {
        const auto windows = QApplication::topLevelWidgets();
        for (QWidget *window : windows) {
            if (window->objectName() == QLatin1String("frmOptions") && window->isVisible())
                return true;
        }
        return false;
    }

    static void press(QMessageBox *box, const QString &answer)
    {
        if (answer.isEmpty()) {
            box->defaultButton()->click();
            return;
        }
        const auto buttons = box->buttons();
        for (QAbstractButton *button : buttons) {
            if (button->text() == answer) {
                button->click();
                return;
            }
        }
        ADD_FAILURE() << "no button " << answer.toStdString() << " in "
                      << box->text().toStdString();
        box->reject();
    }

    QStringList m_answers;
    QList<Seen> m_seen;
};
