#include "clock/frmSetTime.h"

#include "clock/ClockEngine.h"
#include "clock/DesignUnits.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <climits>

using DesignUnits::twips;

namespace {
// A whole number from 0 upward, blanks around it allowed; an empty entry is 0.
// Numbers too long for an int are kept as INT_MAX: they are out of range all
// the same, and the user is told so rather than that they are not numbers.
bool wholeNumber(const QString &text, int *value)
{
    const QString t = text.trimmed();
    if (!std::all_of(t.begin(), t.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return false;
    bool fits = false;
    const int v = t.toInt(&fits);
    *value = t.isEmpty() ? 0 : fits ? v : INT_MAX;
    return true;
}

QString notWholeNumber(const QString &what, const QString &text, int limit)
{
    return QStringLiteral("%1: \"%2\" is not a whole number. Enter a whole number from 0 to %3.")
        .arg(what, text.trimmed())
        .arg(limit - 1);
}
}  // namespace

frmSetTime::Entry frmSetTime::readEntry(const QString &hourText, const QString &minuteText)
{
    Entry e;
    if (!wholeNumber(hourText, &e.hour))
        return {Entry::NotWholeNumber, notWholeNumber(QStringLiteral("Hours"), hourText, 24)};
    if (e.hour >= 24)
        return {Entry::OutOfRange, QStringLiteral("Enter Less Than 24")};
    if (!wholeNumber(minuteText, &e.minute))
        return {Entry::NotWholeNumber, notWholeNumber(QStringLiteral("Minutes"), minuteText, 60), true};
    if (e.minute >= 60)
        return {Entry::OutOfRange, QStringLiteral("Enter Less Than 60"), true};
    return e;
}

frmSetTime::frmSetTime(ClockEngine &clock, MessageSink message, QWidget *parent)
    : QDialog(parent)
    , m_clock(clock)
    , m_message(std::move(message))
{
    setWindowTitle(Caption);
    setFixedSize(twips(0, 0, 4905, 4560).size());
    buildControls();
    connect(Setto12AM, &QPushButton::clicked, this, &frmSetTime::Setto12AM_Click);
    connect(btnSet, &QPushButton::clicked, this, &frmSetTime::btnSet_Click);
    connect(btnCancel, &QPushButton::clicked, this, &frmSetTime::btnCancel_Click);
}

void frmSetTime::buildControls()
{
    Label1 = addLabel(QStringLiteral("Set Time"), twips(960, 120, 3015, 375), 15, Qt::AlignCenter);
    Label4 = addLabel(QStringLiteral("Hours :  "), twips(240, 780, 1095, 495), 17.25,
                      Qt::AlignRight | Qt::AlignVCenter);
    txtHour = addEntry(twips(1920, 720, 1455, 615));
    Label5 = addLabel(QStringLiteral("Minutes :  "), twips(360, 1680, 1095, 495), 13.5,
                      Qt::AlignRight | Qt::AlignVCenter);
    txtMinute = addEntry(twips(1920, 1560, 1455, 600));
    Setto12AM = addButton(QStringLiteral("Set To 12 AM"), twips(1800, 2640, 1215, 495));
    btnSet = addButton(QStringLiteral("Set"), twips(480, 3840, 855, 375));
    btnCancel = addButton(QStringLiteral("Cancel"), twips(3240, 3840, 855, 375));
    btnSet->setDefault(true);
}

QLabel *frmSetTime::addLabel(const QString &text, const QRect &rect, double points,
                             Qt::Alignment align)
{
    auto *label = new QLabel(text, this);
    label->setFont(DesignUnits::font(points, true));
    label->setAlignment(align);
    // The design's narrow boxes were made for a narrower face. A right-aligned
    // caption that does not fit grows to the left, as far as the dialog's edge,
    // and only then gets a smaller size, so that it stays whole and as large
    // as it can be.
    QRect r = rect;
    if (align & Qt::AlignRight) {
        QFont font = label->font();
        r.setLeft(std::max(0, r.right() + 1 - QFontMetrics(font).horizontalAdvance(text)));
        while (QFontMetrics(font).horizontalAdvance(text) > r.width() && font.pixelSize() > 8)
            font.setPixelSize(font.pixelSize() - 1);
        label->setFont(font);
    }
    label->setGeometry(r);
    return label;
}

QLineEdit *frmSetTime::addEntry(const QRect &rect)
{
    auto *entry = new QLineEdit(this);
    entry->setGeometry(rect);
    entry->setFont(DesignUnits::font(13.5, true));
    return entry;
}

QPushButton *frmSetTime::addButton(const QString &text, const QRect &rect)
{
    auto *button = new QPushButton(text, this);
    button->setGeometry(rect);
    button->setFont(DesignUnits::font(8.25, true));
    return button;
}

void frmSetTime::Setto12AM_Click()
{
    txtHour->setText(QStringLiteral("0"));
    txtMinute->setText(QStringLiteral("0"));
}

void frmSetTime::btnSet_Click()
{
    const Entry e = readEntry(txtHour->text(), txtMinute->text());
    if (e.outcome == Entry::NotWholeNumber) {
        // Kept open with the entries as typed, so that they can be corrected.
        m_message(e.message);
        (e.minuteAtFault ? txtMinute : txtHour)->setFocus();
        return;
    }
    if (e.outcome == Entry::OutOfRange) {
        m_message(e.message);
        close();
        return;
    }
    m_clock.setTimeAndHold(e.hour, e.minute);
    close();
}

void frmSetTime::btnCancel_Click()
{
    close();
}
