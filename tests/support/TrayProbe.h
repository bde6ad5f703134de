#pragma once
// What the widget tests read from the notification area: the balloon on screen (its text and
// kind), how often a balloon was shown, and real mouse clicks on the icon through xdotool.
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QMap>
#include <QPixmap>
#include <QProcess>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTest>
#include <QWidget>

namespace trayprobe {

constexpr int kTrayWaitMs = 10000;

// Waits (bounded) for a tray host to be there.
inline bool waitForNotificationArea(int waitMs = kTrayWaitMs) {
    QElapsedTimer waited;
    waited.start();
    while (!QSystemTrayIcon::isSystemTrayAvailable() && waited.elapsed() < waitMs) QTest::qWait(100);
    return QSystemTrayIcon::isSystemTrayAvailable();
}

// The balloon on screen: the toolkit's own top-level balloon widget, or null.
inline QWidget* visibleBalloon() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qstrcmp(widget->metaObject()->className(), "QBalloonTip") == 0 && widget->isVisible())
            return widget;
    }
    return nullptr;
}

// The texts of the balloon's labels that carry text: the title label is there but stays empty
// when no title is given, so an untitled balloon gives exactly its message.
inline QStringList balloonTexts(const QWidget* balloon) {
    QStringList texts;
    if (!balloon) return texts;
    for (const QLabel* label : balloon->findChildren<QLabel*>()) {
        if (!label->text().isEmpty()) texts << label->text();
    }
    return texts;
}

inline QString balloonText(const QWidget* balloon) {
    const QStringList texts = balloonTexts(balloon);
    return texts.size() == 1 ? texts.front() : QStringLiteral("<%1 texts>").arg(texts.size());
}

// The kind a balloon shows, told by its picture: the style's warning or information picture.
// NoIcon when the picture is neither.
inline QSystemTrayIcon::MessageIcon balloonKind(const QWidget* balloon) {
    if (!balloon) return QSystemTrayIcon::NoIcon;
    for (const QLabel* label : balloon->findChildren<QLabel*>()) {
        const QPixmap shown = label->pixmap();
        if (shown.isNull()) continue;
        const QImage image = shown.toImage();
        const auto same = [&](QStyle::StandardPixmap which) {
            const QIcon icon = balloon->style()->standardIcon(which, nullptr, balloon);
            return icon.pixmap(shown.deviceIndependentSize().toSize(), shown.devicePixelRatio())
                       .toImage()
                       .convertToFormat(image.format()) == image;
        };
        if (same(QStyle::SP_MessageBoxWarning)) return QSystemTrayIcon::Warning;
        if (same(QStyle::SP_MessageBoxInformation)) return QSystemTrayIcon::Information;
    }
    return QSystemTrayIcon::NoIcon;
}

// Counts every balloon shown, including one that replaces a balloon with the same text.
class BalloonCounter : public QObject {
  public:
    BalloonCounter() { qApp->installEventFilter(this); }
    ~BalloonCounter() override { qApp->removeEventFilter(this); }
    int shown = 0;
    QStringList texts;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType() &&
            qstrcmp(watched->metaObject()->className(), "QBalloonTip") == 0) {
            ++shown;
            texts << balloonText(static_cast<QWidget*>(watched));
        }
        return false;
    }
};

// Runs xdotool with these arguments; true when it ran and succeeded (bounded to 10 s).
inline bool xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// The icon's own window: the toolkit's top-level widget that the tray host embeds.
inline QWidget* iconWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qstrcmp(widget->metaObject()->className(), "QSystemTrayIconSys") == 0) return widget;
    }
    return nullptr;
}

// The centre of the icon on the screen once it is embedded, or (-1, -1). The toolkit's own
// geometry of an embedded icon is relative to the tray host, so ask the X server instead. With
// `notWindow`, an icon still in that (old) native window does not count.
inline QPoint iconCentre(int waitMs = kTrayWaitMs, WId notWindow = 0) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < waitMs) {
        QWidget* window = iconWindow();
        // internalWinId, not winId: asking must not create a native window of its own.
        const WId id = window && window->isVisible() ? window->internalWinId() : 0;
        if (id != 0 && id != notWindow) {
            QProcess process;
            process.start(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"),
                                                      QStringLiteral("--shell"), QString::number(id)});
            if (process.waitForFinished(10000) && process.exitCode() == 0) {
                QMap<QString, int> values;
                for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
                    const QList<QByteArray> parts = line.trimmed().split('=');
                    if (parts.size() == 2) values[QString::fromLatin1(parts[0])] = parts[1].toInt();
                }
                const QRect where(values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
                                  values.value(QStringLiteral("WIDTH")),
                                  values.value(QStringLiteral("HEIGHT")));
                // Embedded: the host has moved it off the origin into its panel.
                if (where.width() > 1 && where.topLeft() != QPoint(0, 0)) return where.center();
            }
        }
        QTest::qWait(100);
    }
    return {-1, -1};
}

// Presses and releases a mouse button on a screen point (`clicks` times, as a multi-click).
inline bool clickAt(QPoint point, int button = 1, int clicks = 1) {
    return xdotool({QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y()),
                    QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(clicks),
                    QStringLiteral("--delay"), QStringLiteral("60"), QString::number(button)});
}

// Moves the pointer away and lets more than a double-click interval pass, so that the next
// click is not taken as the second half of a double-click.
inline void settleClicks() {
    xdotool({QStringLiteral("mousemove"), QStringLiteral("5"), QStringLiteral("5")});
    QTest::qWait(QApplication::doubleClickInterval() + 200);
}

// Set in a child started by runWithoutNotificationArea(): the test runs there on the offscreen
// platform, which has no notification area.
constexpr char kNoTrayChild[] = "VANTREL_TEST_NO_TRAY_CHILD";

// Runs one test function of this executable again in a child process without a notification area
// and checks that it passed there. Returns the child's output on failure (empty on success).
inline QByteArray runWithoutNotificationArea(const QString& testClass, const QString& function) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QString::fromLatin1(kNoTrayChild), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {function});
    if (!child.waitForFinished(30000)) return "the child did not finish within 30 s";
    const QByteArray output = child.readAll();
    const QByteArray passed = "PASS   : " + testClass.toUtf8() + "::" + function.toUtf8();
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 || !output.contains(passed))
        return output.isEmpty() ? QByteArray("the child failed without output") : output;
    return {};
}

}  // namespace trayprobe
