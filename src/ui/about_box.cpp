#include "ui/about_box.h"

#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "ui/glyphs.h"
#include "ui/home_page.h"

namespace corvane::ui {

namespace {

// The room for the home page address: as wide as the bevels above and below it.
constexpr int kAddressWidth = 191;

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int x, int y) {
    auto* label = new QLabel(text, parent);  // owned by its parent
    label->setObjectName(QString::fromLatin1(name));
    label->move(x, y);
    label->adjustSize();
    return label;
}

QFrame* MakeBevel(QWidget* parent, QFrame::Shape shape, QFrame::Shadow shadow, QRect rect) {
    auto* bevel = new QFrame(parent);
    bevel->setFrameShape(shape);
    bevel->setFrameShadow(shadow);
    bevel->setGeometry(rect);
    return bevel;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About Corvane"));
    setFixedSize(285, 177);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);

    MakeBevel(this, QFrame::Panel, QFrame::Raised, QRect(5, 5, 275, 141));

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(10, 10, 64, 64);
    Image1->setPixmap(QPixmap::fromImage(DrawEmblem()));
    Image1->setScaledContents(true);

    Label1 = MakeLabel(this, "Label1", QStringLiteral("Corvane"), 80, 15);
    QFont big = Label1->font();
    big.setPointSize(10);
    big.setBold(true);
    Label1->setFont(big);
    Label1->adjustSize();

    Label2 = MakeLabel(this, "Label2", QString::fromLatin1(kVersionText), 80, 35);
    QFont bold = Label2->font();
    bold.setPointSize(8);
    bold.setBold(true);
    Label2->setFont(bold);
    Label2->adjustSize();

    MakeBevel(this, QFrame::HLine, QFrame::Sunken, QRect(80, 50, 191, 6));
    Label3 = MakeLabel(this, "Label3", QString::fromLatin1(kPublisher), 80, 65);
    // A file URL can be long: the middle gives way so that it stays on the box, and the
    // whole address is the label's tooltip.
    const QString address = HomePageUrl().toString();
    Label4 = MakeLabel(this, "Label4", address, 80, 80);
    Label4->setText(Label4->fontMetrics().elidedText(address, Qt::ElideMiddle, kAddressWidth));
    Label4->setToolTip(address);
    Label4->adjustSize();
    MakeBevel(this, QFrame::HLine, QFrame::Sunken, QRect(80, 95, 191, 6));

    OKButton = new QPushButton(QStringLiteral("Close"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(206, 150, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace corvane::ui
