// Looks at the running program on a real X server: the window's place and size, where the
// control table puts the frames, texts and colours, and whether the Chinese texts are drawn
// with real glyphs rather than the empty boxes a missing CJK font gives. screenshot.sh starts
// the packaged program under Xvfb (no window manager, so no frame) and passes the window's
// geometry in VIRELLOCK_WINDOW as "x y width height". The Windows build under Wine (tests/
// windows/window.sh) sets VIRELLOCK_WINDOW_STYLE=windows: there the frame, not the client
// area, is placed at (50, 50), and the native Windows style draws frames and an inactive
// selection its own way, so those checks become what that style promises.

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <functional>

namespace {

constexpr int kPanelHeight = 144;
const QRgb kBackground = qRgb(236, 236, 236);

enum class Ink
{
    Dark,
    Blue,
    Light
};

bool isDark(QRgb p)
{
    return std::max({qRed(p), qGreen(p), qBlue(p)}) <= 110;
}

// The links' RGB(0, 0, 255), allowing for antialiased edges.
bool isBlue(QRgb p)
{
    return qBlue(p) >= 200 && qRed(p) <= 80 && qGreen(p) <= 80;
}

bool isLight(QRgb p)
{
    return std::min({qRed(p), qGreen(p), qBlue(p)}) >= 235;
}

bool isWhite(QRgb p)
{
    return p == qRgb(255, 255, 255);
}

// A selection highlight is coloured; frames, text and backgrounds here are all grey.
bool isColoured(QRgb p)
{
    return std::max({qRed(p), qGreen(p), qBlue(p)}) - std::min({qRed(p), qGreen(p), qBlue(p)}) >=
           60;
}

bool near(QRgb a, QRgb b, int tolerance)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

QString rgbText(QRgb p)
{
    return QStringLiteral("RGB(%1, %2, %3)").arg(qRed(p)).arg(qGreen(p)).arg(qBlue(p));
}

} // namespace

class TestScreenshot : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void windowPlaceAndSize();
    void background_data();
    void background();
    void frameEdges_data();
    void frameEdges();
    void ink_data();
    void ink();
    void noBlueOutsideTheLinks();
    void fills_data();
    void fills();
    void realGlyphs_data();
    void realGlyphs();

private:
    static bool windowsStyle()
    {
        return qEnvironmentVariable("VIRELLOCK_WINDOW_STYLE") == QLatin1String("windows");
    }
    // Panel coordinates (the 144-pixel panel under the menu bar) to window coordinates.
    QRect panel(int left, int top, int width, int height) const
    {
        return QRect(left, m_menuBar + top, width, height);
    }
    QPoint panel(int x, int y) const { return QPoint(x, m_menuBar + y); }
    int count(const QRect& rect, const std::function<bool(QRgb)>& predicate) const;
    int luminance(QPoint p) const { return qGray(m_shot.pixel(p)); }

    QRect m_window;
    int m_menuBar = 0;
    QImage m_shot;
};

int TestScreenshot::count(const QRect& rect, const std::function<bool(QRgb)>& predicate) const
{
    int n = 0;
    const QRect r = rect.intersected(m_shot.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += predicate(m_shot.pixel(x, y)) ? 1 : 0;
    return n;
}

void TestScreenshot::initTestCase()
{
    const QStringList numbers = qEnvironmentVariable("VIRELLOCK_WINDOW").split(u' ');
    QCOMPARE(numbers.size(), 4);
    m_window =
        QRect(numbers[0].toInt(), numbers[1].toInt(), numbers[2].toInt(), numbers[3].toInt());
    QVERIFY2(m_window.width() > 0 && m_window.height() > kPanelHeight,
             qPrintable(qEnvironmentVariable("VIRELLOCK_WINDOW")));
    m_menuBar = m_window.height() - kPanelHeight;

    QScreen* screen = QGuiApplication::primaryScreen();
    QVERIFY(screen);
    QCOMPARE(screen->devicePixelRatio(), 1.0);
    // The window may still be blank or half painted when it appears: wait until three grabs
    // in a row agree and show more than a plain fill.
    QImage previous;
    int alike = 0;
    for (int attempt = 0; attempt < 100 && alike < 2; ++attempt) {
        if (attempt > 0)
            QTest::qWait(100);
        m_shot =
            screen->grabWindow(0, m_window.x(), m_window.y(), m_window.width(), m_window.height())
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        const bool painted = count(m_shot.rect(), [&](QRgb p) { return p != m_shot.pixel(0, 0); }) >
                             m_shot.width() * m_shot.height() / 20;
        alike = painted && m_shot == previous ? alike + 1 : 0;
        previous = m_shot;
    }
    const bool settled = alike >= 2;
    QVERIFY2(settled, "the window stayed blank or kept changing");
    QCOMPARE(m_shot.size(), m_window.size());

    const QString out = qEnvironmentVariable("VIRELLOCK_SCREENSHOT");
    if (!out.isEmpty())
        QVERIFY(m_shot.save(out));
}

void TestScreenshot::windowPlaceAndSize()
{
    if (windowsStyle()) {
        // The frame's corner is at (50, 50): the client area lies a border and a title bar
        // further in.
        QVERIFY2(m_window.x() >= 50 && m_window.x() <= 62 && m_window.y() >= 50 &&
                     m_window.y() <= 90,
                 qPrintable(
                     QStringLiteral("client area at %1, %2").arg(m_window.x()).arg(m_window.y())));
    } else {
        QCOMPARE(m_window.topLeft(), QPoint(50, 50));
    }
    QCOMPARE(m_window.width(), 331);
    // The menu bar's height follows the font; the panel under it is 144 pixels.
    QVERIFY2(m_menuBar >= 16 && m_menuBar <= 40,
             qPrintable(QStringLiteral("window height %1").arg(m_window.height())));
    // The menu bar ends in a line across the window (the Windows style draws none); the panel
    // starts below it.
    if (!windowsStyle())
        QVERIFY2(luminance(QPoint(200, m_menuBar - 1)) <= qGray(kBackground) - 10,
                 qPrintable(rgbText(m_shot.pixel(200, m_menuBar - 1))));
}

void TestScreenshot::background_data()
{
    QTest::addColumn<QPoint>("point");
    // Empty spots of the panel: its corner, between and under the group boxes, between and
    // beside the links.
    QTest::newRow("panel corner") << panel(1, 2);
    QTest::newRow("between the group boxes, top") << panel(165, 60);
    QTest::newRow("between the group boxes, bottom") << panel(165, 130);
    QTest::newRow("under the left group box") << panel(100, 141);
    QTest::newRow("between the links") << panel(245, 124);
    QTest::newRow("under the right group box") << panel(245, 107);
    QTest::newRow("right of the right group box") << panel(329, 50);
    QTest::newRow("bottom right corner") << panel(329, 142);
}

void TestScreenshot::background()
{
    QFETCH(QPoint, point);
    const QRgb p = m_shot.pixel(point);
    QVERIFY2(near(p, kBackground, 3), qPrintable(rgbText(p)));
}

void TestScreenshot::frameEdges_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QPoint>("inward");
    QTest::addColumn<bool>("bothSides");

    // Group boxes (3, 8, 157, 130) and (171, 8, 157, 96) and the list (179, 22, 140, 74) in
    // panel coordinates: each edge is a line darker than both of its sides. Qt's Fusion style
    // draws a group box's left edge one pixel in. The top edges of the group boxes are left
    // out, as where they go depends on the title's font; so is the outer side of the list's
    // top edge, which a tall font's title can touch.
    const QPoint right(1, 0), left(-1, 0), down(0, 1), up(0, -1);
    QTest::newRow("left group box, left") << panel(4, 30) << panel(4, 133) << right << true;
    QTest::newRow("left group box, right") << panel(159, 30) << panel(159, 133) << left << true;
    QTest::newRow("left group box, bottom") << panel(8, 137) << panel(154, 137) << up << true;
    QTest::newRow("right group box, left") << panel(172, 30) << panel(172, 99) << right << true;
    QTest::newRow("right group box, right") << panel(327, 30) << panel(327, 99) << left << true;
    QTest::newRow("right group box, bottom") << panel(176, 103) << panel(322, 103) << up << true;
    QTest::newRow("list, left") << panel(179, 25) << panel(179, 76) << right << true;
    QTest::newRow("list, right") << panel(318, 25) << panel(318, 76) << left << true;
    QTest::newRow("list, top") << panel(182, 22) << panel(315, 22) << down << false;
    QTest::newRow("list, bottom") << panel(182, 95) << panel(315, 95) << up << true;
}

void TestScreenshot::frameEdges()
{
    if (windowsStyle())
        QSKIP("the Windows style draws its frames at its own offsets");
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(QPoint, inward);
    QFETCH(bool, bothSides);
    const QPoint step = from.x() == to.x() ? QPoint(0, 1) : QPoint(1, 0);
    int length = 0;
    int onLine = 0;
    for (QPoint p = from; p != to + step; p += step) {
        ++length;
        const int edge = luminance(p);
        if (edge <= luminance(p + inward) - 10 &&
            (!bothSides || edge <= luminance(p - inward) - 10))
            ++onLine;
    }
    QVERIFY2(onLine * 10 >= length * 9,
             qPrintable(QStringLiteral("%1 of %2 pixels form the edge").arg(onLine).arg(length)));
}

void TestScreenshot::ink_data()
{
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<Ink>("kind");
    QTest::addColumn<int>("minimum");

    QTest::newRow("menu 程序") << QRect(0, 0, 60, m_menuBar) << Ink::Dark << 20;
    QTest::newRow("title 加密设置:") << panel(3, 8, 157, 14) << Ink::Dark << 20;
    QTest::newRow("title 加密或解密的方式:") << panel(171, 8, 157, 14) << Ink::Dark << 20;
    QTest::newRow("label 请输入密码:") << panel(12, 24, 64, 16) << Ink::Dark << 20;
    QTest::newRow("label 请再次输入密码:") << panel(12, 58, 96, 16) << Ink::Dark << 20;
    QTest::newRow("label 请输入密码遗忘提示:") << panel(12, 94, 120, 16) << Ink::Dark << 20;
    for (int row = 0; row < 4; ++row)
        QTest::addRow("list row %d", row) << panel(180, 23 + 14 * row, 138, 14) << Ink::Dark << 20;
    QTest::newRow("list row 4, selected") << panel(180, 79, 138, 14) << Ink::Light << 20;
    QTest::newRow("link 加密文件") << panel(170, 112, 61, 24) << Ink::Blue << 30;
    QTest::newRow("link 解密文件") << panel(259, 112, 61, 24) << Ink::Blue << 30;
}

void TestScreenshot::ink()
{
    QFETCH(QRect, rect);
    QFETCH(Ink, kind);
    QFETCH(int, minimum);
    const auto predicate = kind == Ink::Dark ? isDark : kind == Ink::Blue ? isBlue : isLight;
    const int n = count(rect, predicate);
    QVERIFY2(n >= minimum, qPrintable(QStringLiteral("%1 ink pixels").arg(n)));
}

void TestScreenshot::noBlueOutsideTheLinks()
{
    const QRect links[] = {panel(170, 112, 61, 24), panel(259, 112, 61, 24)};
    const int inLinks = count(links[0], isBlue) + count(links[1], isBlue);
    QCOMPARE(count(m_shot.rect(), isBlue), inLinks);
}

void TestScreenshot::fills_data()
{
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<bool>("selection");
    QTest::addColumn<int>("percent");

    // Inside the line edits (12, 40), (12, 75) and (12, 112), 140 x 16.
    QTest::newRow("password box") << panel(15, 43, 134, 10) << false << 95;
    QTest::newRow("confirmation box") << panel(15, 78, 134, 10) << false << 95;
    QTest::newRow("hint box") << panel(15, 115, 134, 10) << false << 95;
    // The list's rows of 14 pixels, text and all; only the last one is selected.
    for (int row = 0; row < 4; ++row)
        QTest::addRow("list row %d", row) << panel(180, 23 + 14 * row, 138, 14) << false << 60;
    QTest::newRow("list row 4, selected") << panel(180, 79, 138, 14) << true << 60;
    QTest::newRow("list below the rows") << panel(180, 93, 138, 2) << false << 95;
}

void TestScreenshot::fills()
{
    QFETCH(QRect, rect);
    QFETCH(bool, selection);
    QFETCH(int, percent);
    if (windowsStyle() && QByteArray(QTest::currentDataTag()) == "list below the rows")
        QSKIP("the Windows style's list frame is thicker and leaves no room below the rows");
    // Without a window manager the window is never active, and the Windows style shows an
    // inactive selection in grey: a filled row all the same, not white.
    const auto selected = windowsStyle() ? [](QRgb p) { return !isWhite(p); } : isColoured;
    const int n = count(rect, selection ? selected : isWhite);
    const int all = rect.width() * rect.height();
    QVERIFY2(n * 100 >= all * percent,
             qPrintable(QStringLiteral("%1 of %2 pixels").arg(n).arg(all)));
    // No selection colour where nothing is selected.
    if (!selection)
        QCOMPARE(count(rect, isColoured), 0);
}

void TestScreenshot::realGlyphs_data()
{
    QTest::addColumn<QRect>("first");
    QTest::addColumn<QRect>("second");

    // Texts laid out alike that differ only in Chinese characters. A missing glyph is the
    // same empty box whatever the character, so without a CJK font each pair looks the same.
    QTest::newRow("加密文件 / 解密文件") << panel(170, 112, 61, 24) << panel(259, 112, 61, 24);
    QTest::newRow("DES标准加密法 / DES增强加密法")
        << panel(180, 23, 138, 14) << panel(180, 23 + 2 * 14, 138, 14);
    QTest::newRow("RC4标准加密法 / RC4增强加密法")
        << panel(180, 23 + 14, 138, 14) << panel(180, 23 + 3 * 14, 138, 14);
}

void TestScreenshot::realGlyphs()
{
    QFETCH(QRect, first);
    QFETCH(QRect, second);
    QCOMPARE(first.size(), second.size());
    int differing = 0;
    for (int y = 0; y < first.height(); ++y)
        for (int x = 0; x < first.width(); ++x)
            differing += near(m_shot.pixel(first.topLeft() + QPoint(x, y)),
                              m_shot.pixel(second.topLeft() + QPoint(x, y)), 48)
                             ? 0
                             : 1;
    QVERIFY2(differing >= 12,
             qPrintable(QStringLiteral("only %1 pixels differ: the Chinese characters look alike, "
                                       "as empty boxes do")
                            .arg(differing)));
}

QTEST_MAIN(TestScreenshot)
#include "tst_screenshot.moc"
