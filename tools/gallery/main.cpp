// Writes a picture of every skinned control in every state, at 1x and 2x,
// plus one contact sheet of them all. Run headless with
//   QT_QPA_PLATFORM=offscreen tessaro-gallery [output-folder]
// The 2x pictures come from a second run of this program under
// QT_SCALE_FACTOR=2, since the ratio is fixed when the application starts.

#include "HoverButton.h"
#include "MacButton.h"
#include "MacButtonD.h"
#include "MacCheckBox.h"
#include "MacComboD.h"
#include "MacFrame.h"
#include "MacRadioButton.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QTextStream>

#include <cstdio>
#include <functional>

namespace {

struct Shot
{
    QString file;
    QString label;
};

class Gallery
{
public:
    Gallery(QDir out, QString suffix) : m_out(std::move(out)), m_suffix(std::move(suffix)) {}

    // Builds a host of the given size, lets `setup` place and prepare the
    // control, and saves the host's picture.
    void shoot(const QString &name, QSize hostSize, const QColor &backdrop,
               const std::function<void(QWidget &host)> &setup)
    {
        QWidget host;
        host.setAttribute(Qt::WA_DontShowOnScreen);
        host.setAutoFillBackground(true);
        QPalette palette = host.palette();
        palette.setColor(QPalette::Window, backdrop);
        host.setPalette(palette);
        host.resize(hostSize);
        host.show();
        setup(host);
        const QString file = name + m_suffix + QStringLiteral(".png");
        host.grab().save(m_out.filePath(file));
        m_shots.push_back({file, name + m_suffix});
    }

    const std::vector<Shot> &shots() const { return m_shots; }

private:
    QDir m_out;
    QString m_suffix;
    std::vector<Shot> m_shots;
};

void sendMouse(QWidget *widget, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease || type == QEvent::MouseMove
                                      ? Qt::MouseButtons()
                                      : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

void hover(QWidget *widget)
{
    MacButton::setCursorSource([widget] { return widget->mapToGlobal(QPoint(5, 5)); });
    sendMouse(widget, QEvent::MouseMove, QPoint(3, 3));
}

void press(QWidget *widget, QPoint at = QPoint(3, 3))
{
    sendMouse(widget, QEvent::MouseButtonPress, at);
}

const QColor WindowGrey(236, 236, 236);
const QColor ToolbarGrey(228, 228, 228);

template <typename Button> void shootButtons(Gallery &gallery, const QString &kind, const QColor &backdrop)
{
    for (bool longStyle : {false, true}) {
        const QString style = longStyle ? QStringLiteral("-long") : QString();
        const QSize hostSize(longStyle ? 116 : 89, 35);
        auto place = [&](QWidget &host) {
            auto *button = new Button(&host);
            button->SetCaption(longStyle ? QStringLiteral("Save As") : QStringLiteral("Save"));
            button->SetLongStyle(longStyle);
            button->move(8, 6);
            button->show();
            return button;
        };
        gallery.shoot(kind + style + QStringLiteral("-normal"), hostSize, backdrop,
                      [&](QWidget &host) { place(host); });
        gallery.shoot(kind + style + QStringLiteral("-hover"), hostSize, backdrop,
                      [&](QWidget &host) { hover(place(host)); });
        gallery.shoot(kind + style + QStringLiteral("-down"), hostSize, backdrop, [&](QWidget &host) {
            auto *button = place(host);
            hover(button);
            press(button);
        });
        gallery.shoot(kind + style + QStringLiteral("-disabled"), hostSize, backdrop,
                      [&](QWidget &host) { place(host)->SetEnabled(false); });
    }
}

template <typename Glyph> void shootGlyphs(Gallery &gallery, const QString &kind)
{
    const QSize hostSize(29, 29);
    auto place = [](QWidget &host) {
        auto *glyph = new Glyph(&host);
        glyph->move(8, 8);
        glyph->show();
        return glyph;
    };
    for (bool on : {false, true}) {
        const QString state = on ? QStringLiteral("-checked") : QStringLiteral("-unchecked");
        gallery.shoot(kind + state, hostSize, WindowGrey, [&](QWidget &host) { place(host)->SetValue(on); });
        gallery.shoot(kind + state + QStringLiteral("-down"), hostSize, WindowGrey, [&](QWidget &host) {
            auto *glyph = place(host);
            glyph->SetValue(on);
            press(glyph);
        });
        gallery.shoot(kind + state + QStringLiteral("-disabled"), hostSize, WindowGrey, [&](QWidget &host) {
            auto *glyph = place(host);
            glyph->SetValue(on);
            glyph->SetEnabled(false);
        });
    }
}

void shootFrames(Gallery &gallery)
{
    auto fill = [](QWidget &host, bool enabled) {
        auto *frame = new MacFrame(&host);
        frame->setGeometry(10, 10, 149, 174); // 2235 x 2610 twips, the settings panel
        const char *names[] = {"Color 1", "Color 2", "Color 3", "Color 4", "Custom"};
        const quint32 colours[] = {11954481, 10916490, 8421631, 8454143, 12632256};
        for (int i = 0; i < 5; ++i) {
            auto *radio = new MacRadioButton(frame);
            radio->move(20, 14 + 24 * i);
            auto *swatch = new HoverButton(frame);
            swatch->setGeometry(40, 12 + 24 * i, 17, 17);
            swatch->setBackcolor(colours[i]);
            swatch->setHoverbackcolor(colours[i]);
            auto *label = new QLabel(QString::fromLatin1(names[i]), frame);
            label->move(67, 13 + 24 * i);
            if (i == 0)
                radio->SetValue(true);
        }
        auto *check = new MacCheckBox(frame);
        check->move(20, 138);
        check->SetValue(1);
        auto *label = new QLabel(QStringLiteral("Highlight Grid"), frame);
        label->move(40, 137);
        frame->SetEnabled(enabled);
        frame->show();
    };
    gallery.shoot(QStringLiteral("MacFrame-settings"), QSize(170, 196), WindowGrey,
                  [&](QWidget &host) { fill(host, true); });
    gallery.shoot(QStringLiteral("MacFrame-disabled"), QSize(170, 196), WindowGrey,
                  [&](QWidget &host) { fill(host, false); });
    gallery.shoot(QStringLiteral("MacFrame-small"), QSize(120, 60), WindowGrey, [](QWidget &host) {
        auto *frame = new MacFrame(&host);
        frame->setGeometry(10, 10, 100, 38);
        frame->show();
    });
}

void shootCombos(Gallery &gallery)
{
    auto place = [](QWidget &host) {
        auto *combo = new MacComboD(&host);
        combo->SetCaption(QStringLiteral("OWI-535 Robotic Arm"));
        combo->move(8, 8);
        combo->show();
        return combo;
    };
    gallery.shoot(QStringLiteral("MacComboD-normal"), QSize(237, 38), WindowGrey,
                  [&](QWidget &host) { place(host); });
    gallery.shoot(QStringLiteral("MacComboD-pressed"), QSize(237, 38), WindowGrey,
                  [&](QWidget &host) { press(place(host), QPoint(20, 10)); });
}

void shootHoverButtons(Gallery &gallery)
{
    auto place = [](QWidget &host, bool bold) {
        auto *button = new HoverButton(&host);
        QFont font = button->font();
        font.setBold(bold);
        button->setFont(font);
        const QString caption = bold ? QStringLiteral("PAUSE") : QStringLiteral("Down");
        button->setCaption(caption);
        button->setCaptionover(caption);
        button->setCaptiondown(bold ? caption : QStringLiteral(" Down"));
        button->setGeometry(8, 8, bold ? 65 : 45, bold ? 41 : 25);
        button->show();
        return button;
    };
    const QSize size(81, 57);
    auto enter = [](HoverButton *button) {
        QEnterEvent event(QPointF(3, 3), QPointF(3, 3), QPointF(button->mapToGlobal(QPoint(3, 3))));
        QCoreApplication::sendEvent(button, &event);
    };
    for (bool bold : {false, true}) {
        const QString kind = bold ? QStringLiteral("HoverButton-pause") : QStringLiteral("HoverButton");
        gallery.shoot(kind + QStringLiteral("-idle"), size, WindowGrey,
                      [&](QWidget &host) { place(host, bold); });
        gallery.shoot(kind + QStringLiteral("-hover"), size, WindowGrey,
                      [&](QWidget &host) { enter(place(host, bold)); });
        gallery.shoot(kind + QStringLiteral("-down"), size, WindowGrey, [&](QWidget &host) {
            auto *button = place(host, bold);
            enter(button);
            press(button);
        });
        gallery.shoot(kind + QStringLiteral("-on"), size, WindowGrey, [&](QWidget &host) {
            auto *button = place(host, bold);
            button->setBackcolor(6405021);
            button->setHoverbackcolor(6405021);
            button->setBordercolor(4754549);
        });
        gallery.shoot(kind + QStringLiteral("-disabled"), size, WindowGrey,
                      [&](QWidget &host) { place(host, bold)->setEnabled(false); });
    }
    gallery.shoot(QStringLiteral("HoverButton-swatch"), QSize(33, 33), WindowGrey, [](QWidget &host) {
        auto *swatch = new HoverButton(&host);
        swatch->setBackcolor(11954481);
        swatch->setHoverbackcolor(11954481);
        swatch->setGeometry(8, 8, 17, 17);
        swatch->show();
    });
    gallery.shoot(QStringLiteral("HoverButton-swatch-down"), QSize(33, 33), WindowGrey, [&](QWidget &host) {
        auto *swatch = new HoverButton(&host);
        swatch->setBackcolor(8421631);
        swatch->setHoverbackcolor(8421631);
        swatch->setGeometry(8, 8, 17, 17);
        swatch->show();
        enter(swatch);
        press(swatch);
    });
}

std::vector<Shot> shootAll(const QDir &out, const QString &suffix)
{
    Gallery gallery(out, suffix);
    shootButtons<MacButton>(gallery, QStringLiteral("MacButton"), WindowGrey);
    shootButtons<MacButtonD>(gallery, QStringLiteral("MacButtonD"), ToolbarGrey);
    shootGlyphs<MacCheckBox>(gallery, QStringLiteral("MacCheckBox"));
    shootGlyphs<MacRadioButton>(gallery, QStringLiteral("MacRadioButton"));
    shootFrames(gallery);
    shootCombos(gallery);
    shootHoverButtons(gallery);
    MacButton::setCursorSource({});
    return gallery.shots();
}

void writeList(const QDir &out, const QString &name, const std::vector<Shot> &shots)
{
    QFile file(out.filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    QTextStream stream(&file);
    for (const Shot &shot : shots)
        stream << shot.file << '\n';
}

// Lays the pictures out one control kind and scale to a row (wrapping when
// a row is full), each with its name above it.
void writeContactSheet(const QDir &out, const QStringList &files)
{
    constexpr int SheetWidth = 1500;
    constexpr int Gap = 14;
    constexpr int LabelHeight = 16;
    QFont font;
    font.setPixelSize(10);
    const QFontMetrics metrics(font);
    struct Placed
    {
        QImage image;
        QString label;
        QPoint at;
    };
    std::vector<Placed> placed;
    int x = Gap;
    int y = Gap;
    int rowHeight = 0;
    QString rowKind;
    for (const QString &file : files) {
        QImage image(out.filePath(file));
        if (image.isNull())
            continue;
        image.setDevicePixelRatio(1.0);
        const QString label = QFileInfo(file).completeBaseName();
        const QString kind = label.section(QLatin1Char('-'), 0, 0) + label.section(QLatin1Char('@'), 1);
        const int cellWidth = qMax(image.width(), metrics.horizontalAdvance(label));
        const bool newKind = !rowKind.isEmpty() && kind != rowKind;
        if (x > Gap && (newKind || x + cellWidth > SheetWidth - Gap)) {
            x = Gap;
            y += rowHeight + Gap;
            rowHeight = 0;
        }
        rowKind = kind;
        placed.push_back({image, label, QPoint(x, y)});
        x += cellWidth + Gap;
        rowHeight = qMax(rowHeight, image.height() + LabelHeight);
    }
    QImage sheet(SheetWidth, y + rowHeight + Gap, QImage::Format_RGB32);
    sheet.fill(QColor(250, 250, 250));
    QPainter painter(&sheet);
    painter.setFont(font);
    painter.setPen(QColor(60, 60, 60));
    for (const Placed &item : placed) {
        painter.drawText(QRect(item.at.x(), item.at.y(), SheetWidth, LabelHeight - 2),
                         Qt::AlignLeft | Qt::AlignBottom, item.label);
        painter.drawImage(item.at + QPoint(0, LabelHeight), item.image);
    }
    painter.end();
    sheet.save(out.filePath(QStringLiteral("gallery.png")));
}

QStringList readList(const QDir &out, const QString &name)
{
    QFile file(out.filePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

int main(int argc, char *argv[])
{
    // The second pass is this program again with "--scale 2".
    QString scale;
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "--scale") == 0)
            scale = QString::fromLocal8Bit(argv[i + 1]);
    }
    if (!scale.isEmpty())
        qputenv("QT_SCALE_FACTOR", scale.toLocal8Bit());

    QApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const int scaleAt = arguments.indexOf(QStringLiteral("--scale"));
    if (scaleAt >= 0)
        arguments.remove(scaleAt, 2);
    const QString outPath = arguments.isEmpty() ? QStringLiteral("gallery") : arguments.first();
    if (!QDir().mkpath(outPath)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(outPath));
        return 1;
    }
    const QDir out(outPath);

    if (!scale.isEmpty()) {
        writeList(out, QStringLiteral("shots@%1x.txt").arg(scale),
                  shootAll(out, QStringLiteral("@%1x").arg(scale)));
        return 0;
    }

    const std::vector<Shot> shots = shootAll(out, QStringLiteral("@1x"));
    const int status =
        QProcess::execute(QCoreApplication::applicationFilePath(),
                          {QStringLiteral("--scale"), QStringLiteral("2"), out.absolutePath()});
    if (status != 0)
        std::fprintf(stderr, "the 2x pass failed (%d)\n", status);

    QStringList files;
    for (const Shot &shot : shots)
        files << shot.file;
    files << readList(out, QStringLiteral("shots@2x.txt"));
    QFile::remove(out.filePath(QStringLiteral("shots@2x.txt")));
    writeContactSheet(out, files);
    std::printf("%lld pictures and gallery.png in %s\n", qlonglong(files.size()),
                qPrintable(out.absolutePath()));
    return status == 0 ? 0 : 1;
}
