#include "info/uAbout102.h"

#include "info/Download.h"
#include "info/ServerUrls.h"
#include "info/VersionResource.h"
#include "platform/Error.h"
#include "platform/ErrorText.h"
#include "platform/Paths.h"
#include "platform/ProfileFile.h"
#include "platform/gui/Application.h"
#include "platform/gui/Controls.h"
#include "platform/gui/Icons.h"
#include "platform/gui/WindowKeys.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QtEndian>

#include <cerrno>
#include <sys/stat.h>
#include <sys/utsname.h>

using namespace Qt::StringLiterals;

namespace about {

namespace {

[[noreturn]] void raiseLastOsError(int code)
{
    throw AppError(platform::sysErrorMessage(code));
}

// The running executable's file name, as on disk.
QString executableName()
{
    return platform::extractFileName(platform::executablePath());
}

// Fetches the update file into its own temporary file and reads one value from it. False when
// the download failed; the temporary file is gone either way.
bool fetchUpdateValue(
    UpdateFetches &fetches, const QString &section, const QString &key, QString &value)
{
    value.clear();
    info::TempFile file = info::MakeTempFileName(u".tmp"_s);
    if (!file.isValid() || !fetches.download(file))
        return false;
    struct stat st
    {
    };
    if (::fstat(file.handle(), &st) != 0 || st.st_size > info::kMaxDownloadBytes)
        return true; // fetched, but not a file we read: an empty value
    // Read through our own descriptor, so that what is read is what was downloaded even if
    // someone put another file under the name meanwhile.
    const QString ownFile = u"/proc/self/fd/%1"_s.arg(file.handle());
    value = platform::getPrivateProfileString(
        section, key, QString(), QFile::exists(ownFile) ? ownFile : file.fileName());
    return true;
}

int leadingNumber(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? value : 0;
}

// One value of an os-release file: shell-like quoting, backslash escapes inside double quotes.
QString osReleaseValue(QByteArrayView content, QByteArrayView key)
{
    const QList<QByteArray> lines = content.toByteArray().split('\n');
    for (QByteArray line : lines) {
        line = line.trimmed();
        if (!line.startsWith(key) || line.size() <= key.size() || line.at(key.size()) != '=')
            continue;
        QByteArray raw = line.mid(key.size() + 1);
        QByteArray value;
        if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'')
            && raw.back() == raw.front()) {
            const bool doubleQuoted = raw.front() == '"';
            raw = raw.mid(1, raw.size() - 2);
            for (qsizetype i = 0; i < raw.size(); ++i) {
                if (doubleQuoted && raw.at(i) == '\\' && i + 1 < raw.size())
                    ++i;
                value.append(raw.at(i));
            }
        } else {
            value = raw;
        }
        return QString::fromUtf8(value).trimmed();
    }
    return {};
}

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(64 * 1024);
}

// Both pictures are drawn for the screen's pixel density, so that they stay sharp on a dense
// screen.
QPixmap backgroundPicture(qreal pixelRatio)
{
    QPixmap picture(QSize(450, 288) * pixelRatio);
    picture.setDevicePixelRatio(pixelRatio);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient page(0, 0, 0, 288);
    page.setColorAt(0, QColor(0xFF, 0xFF, 0xFF));
    page.setColorAt(1, QColor(0xDC, 0xE6, 0xF2));
    painter.fillRect(QRect(0, 0, 450, 288), page);

    QLinearGradient band(0, 0, 160, 288);
    band.setColorAt(0, QColor(0x1F, 0x3A, 0x5F));
    band.setColorAt(1, QColor(0x4A, 0x7A, 0xB0));
    painter.fillRect(QRect(0, 0, 160, 288), band);

    // A quill across the band.
    QPainterPath quill;
    quill.moveTo(40, 230);
    quill.cubicTo(60, 150, 100, 80, 130, 40);
    quill.cubicTo(120, 100, 90, 170, 40, 230);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xFF, 0xFF, 0xFF, 0xD0));
    painter.drawPath(quill);
    painter.setPen(QPen(QColor(0xFF, 0xFF, 0xFF), 2));
    painter.drawLine(QPointF(40, 230), QPointF(30, 255));
    return picture;
}

QPixmap donatePicture(qreal pixelRatio)
{
    QPixmap picture(QSize(74, 21) * pixelRatio);
    picture.setDevicePixelRatio(pixelRatio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gold(0, 0, 0, 21);
    gold.setColorAt(0, QColor(0xFF, 0xD8, 0x6B));
    gold.setColorAt(1, QColor(0xF5, 0xA6, 0x23));
    painter.setPen(QPen(QColor(0xC7, 0x85, 0x14), 1));
    painter.setBrush(gold);
    painter.drawRoundedRect(QRectF(0.5, 0.5, 73, 20), 9, 9);
    QFont font(u"Tahoma"_s);
    font.setPixelSize(11);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(0x1F, 0x3A, 0x5F));
    painter.drawText(QRect(0, 0, 74, 21), Qt::AlignCenter, u"Donate"_s);
    return picture;
}

// A one-line label that shows what fits of its text, ending with an ellipsis: a long system
// description never runs past the box's edge or into the link beside it.
class LineLabel : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QRect room = contentsRect();
        style()->drawItemText(&painter, room, int(alignment()), palette(), isEnabled(),
            fontMetrics().elidedText(text(), Qt::ElideRight, room.width()), foregroundRole());
    }
};

// Sizes a one-line label to its text, ending at `right` at the latest; the whole text is then
// its tooltip.
void fitLine(QLabel *label, int right)
{
    label->adjustSize();
    const bool cut = label->x() + label->width() > right;
    if (cut)
        label->resize(right - label->x(), label->height());
    label->setToolTip(cut ? platform::plainToolTip(label->text()) : QString());
}

// A label whose right edge stays at `right` whatever its text.
void alignRight(QLabel *label, int right, int top)
{
    label->adjustSize();
    label->move(right - label->width(), top);
}

// Fills a template's directives in one pass: "%s" or "%d" takes the argument after the one used
// last, "%N:s" or "%N:d" the argument of index N, "%%" is a percent sign. What an argument
// brings in is never read as a directive; a directive without its argument stays as written.
QString formatDirectives(QStringView pattern, const QStringList &arguments)
{
    QString result;
    result.reserve(pattern.size());
    qsizetype next = 0;
    qsizetype at = 0;
    while (at < pattern.size()) {
        const QChar c = pattern.at(at);
        if (c != u'%' || at + 1 >= pattern.size()) {
            result += c;
            ++at;
            continue;
        }
        if (pattern.at(at + 1) == u'%') {
            result += u'%';
            at += 2;
            continue;
        }
        // "%" [index ":"] type: the only forms the templates use.
        qsizetype end = at + 1;
        while (end < pattern.size() && pattern.at(end).isDigit())
            ++end;
        qsizetype index = next;
        if (end > at + 1) {
            if (end >= pattern.size() || pattern.at(end) != u':') {
                result += c; // no directive we know: the text stays as written
                ++at;
                continue;
            }
            index = pattern.mid(at + 1, end - at - 1).toLongLong();
            ++end;
        }
        if (end >= pattern.size() || !QStringView(u"sdSD").contains(pattern.at(end))
            || index >= arguments.size()) {
            result += c;
            ++at;
            continue;
        }
        result += arguments.at(index);
        next = index + 1;
        at = end + 1;
    }
    return result;
}

} // namespace

TVersionNumber GetRunningVersion()
{
    // The running image, not the installed file: an upgrade may have replaced that meanwhile.
    const QString exe = platform::runningExecutableImage();
    std::uint32_t handle = 0;
    const std::uint32_t size = info::getFileVersionInfoSize(exe, &handle);
    if (size == 0)
        raiseLastOsError(errno);
    QByteArray block(qsizetype(size), '\0');
    if (!info::getFileVersionInfo(exe, handle, size, block.data()))
        raiseLastOsError(errno);
    QByteArrayView root;
    if (!info::verQueryValue(block, u"\\", &root)
        || root.size() < qsizetype(sizeof(info::VS_FIXEDFILEINFO)))
        raiseLastOsError(ENODATA);
    const auto ms = qFromLittleEndian<quint32>(root.data() + 8);
    const auto ls = qFromLittleEndian<quint32>(root.data() + 12);
    return { std::uint16_t(ms >> 16), std::uint16_t(ms & 0xFFFF), std::uint16_t(ls >> 16),
        std::uint16_t(ls & 0xFFFF) };
}

QString GetRunningVersionText()
{
    return GetRunningVersion().toString();
}

QString UpdateFileUrl()
{
    const QString name = platform::changeFileExt(executableName(), u".INF"_s);
    return info::publisherUrl() + u"/files/"_s + QString::fromLatin1(QUrl::toPercentEncoding(name));
}

TVersionNumber ParseVersionText(const QString &text)
{
    QString rest = text;
    std::uint16_t parts[3] = {};
    for (std::uint16_t &part : parts) {
        const qsizetype dot = rest.indexOf(u'.');
        if (dot < 0)
            continue;
        part = std::uint16_t(leadingNumber(rest.left(dot)));
        rest = rest.mid(dot + 1);
    }
    return { parts[0], parts[1], parts[2], std::uint16_t(leadingNumber(rest)) };
}

UpdateFetches::UpdateFetches()
    : m_deadline(std::chrono::steady_clock::now() + info::kUpdateFileTimeout)
{
}

bool UpdateFetches::download(info::TempFile &file)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        m_deadline - std::chrono::steady_clock::now());
    if (m_timedOut || left.count() <= 0)
        return false;
    const info::DownloadResult result = info::DownloadUrlToFile(UpdateFileUrl(), file, left);
    m_timedOut = result == info::DownloadResult::TimedOut;
    return result == info::DownloadResult::Succeeded;
}

bool IsNewVersionAvailable(UpdateFetches &fetches)
{
    QString published;
    if (!fetchUpdateValue(fetches, u"file1"_s, u"newversion"_s, published))
        return false;
    const TVersionNumber running = GetRunningVersion();
    return ParseVersionText(published) > running;
}

QString ReadUpdateNews(UpdateFetches &fetches)
{
    QString news;
    if (!fetchUpdateValue(fetches, u"update"_s, u"descr"_s, news))
        return {};
    return news.replace(u"\\n"_s, u"\n"_s, Qt::CaseInsensitive);
}

OperatingSystem DescribeSystem(
    QByteArrayView osRelease, const QString &kernelRelease, const QString &machine)
{
    OperatingSystem system;
    system.productName = osReleaseValue(osRelease, "PRETTY_NAME");
    if (system.productName.isEmpty())
        system.productName = osReleaseValue(osRelease, "NAME");
    if (system.productName.isEmpty())
        system.productName = u"Linux"_s;

    static const QRegularExpression figures(u"^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"_s);
    const QRegularExpressionMatch match = figures.match(kernelRelease);
    if (match.hasMatch()) {
        system.major = leadingNumber(match.captured(1));
        system.minor = leadingNumber(match.captured(2));
        system.build = leadingNumber(match.captured(3));
    }

    static const QStringList sixtyFourBits { u"x86_64"_s, u"amd64"_s, u"aarch64"_s, u"arm64"_s,
        u"ppc64"_s, u"ppc64le"_s, u"s390x"_s, u"riscv64"_s, u"mips64"_s, u"sparc64"_s,
        u"loongarch64"_s, u"alpha"_s, u"ia64"_s };
    system.is64Bits = sixtyFourBits.contains(machine);
    return system;
}

OperatingSystem CurrentOperatingSystem()
{
    QByteArray osRelease = readSmallFile(u"/etc/os-release"_s);
    if (osRelease.isEmpty())
        osRelease = readSmallFile(u"/usr/lib/os-release"_s);
    struct utsname names
    {
    };
    if (::uname(&names) != 0)
        return DescribeSystem(osRelease, QString(), QString());
    return DescribeSystem(
        osRelease, QString::fromLocal8Bit(names.release), QString::fromLocal8Bit(names.machine));
}

QString FormatOperatingSystem(const OperatingSystem &system)
{
    const QStringList arguments { system.productName, QString::number(system.major),
        QString::number(system.minor), QString::number(system.build),
        QString::number(system.servicePack),
        system.is64Bits ? u"Edition 64 bits"_s : u"Edition 32 bits"_s };
    return formatDirectives(system.servicePack == 0
            ? u"%s (Version %d.%d, Build %d, %5:s)"_s
            : u"%s Service Pack %4:d (Version %1:d.%2:d, Build %3:d, %5:s)"_s,
        arguments);
}

QString GetCompilerVersionText()
{
#if defined(__clang__)
    return u"Clang %1.%2.%3"_s.arg(__clang_major__).arg(__clang_minor__).arg(__clang_patchlevel__);
#elif defined(__GNUC__)
    return u"GCC "_s + QLatin1StringView(__VERSION__);
#else
    return u"an unknown compiler"_s;
#endif
}

QUrl WebPageForTag(int tag)
{
    switch (tag) {
    case 1:
        return QUrl(info::publisherUrl() + u"/wiki/quillsift"_s);
    case 2:
        // The publisher's page forwards to its payment service's donation form, so that the
        // account can change without a new build.
        return QUrl(info::publisherUrl() + u"/donate/quillsift"_s);
    case 3:
        return QUrl(info::publisherUrl() + u"/wiki/quillsift/eula"_s);
    default:
        return {};
    }
}

} // namespace about

TfrmAbout102::TfrmAbout102(QWidget *parent)
    : QDialog(parent,
        Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
            | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(u"frmAbout102"_s);
    setWindowTitle(u"About"_s);
    setFixedSize(450, 288);
    QFont tahoma(u"Tahoma"_s);
    tahoma.setPixelSize(11);
    setFont(tahoma);

    auto makeLabel = [this](const QString &name, const QString &text, int left, int top,
                         bool oneLine = false) {
        QLabel *label = oneLine ? new about::LineLabel(text, this) : new QLabel(text, this);
        label->setObjectName(name);
        label->setTextFormat(Qt::PlainText);
        label->adjustSize();
        label->move(left, top);
        return label;
    };

    Image1 = new QLabel(this);
    Image1->setObjectName(u"Image1"_s);
    Image1->setGeometry(0, 0, 450, 288);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setPixmap(about::backgroundPicture(devicePixelRatioF()));

    imgBug = new QLabel(this);
    imgBug->setObjectName(u"imgBug"_s);
    imgBug->setGeometry(8, 8, 32, 32);
    imgBug->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
    imgBug->setToolTip(u"Version debug !!!"_s);

    lblApplicationTitle = makeLabel(u"lblApplicationTitle"_s, u"Quill Sift"_s, 170, 8);
    QFont titleFont = tahoma;
    titleFont.setPixelSize(17);
    titleFont.setBold(true);
    lblApplicationTitle->setFont(titleFont);
    lblApplicationTitle->resize(272, 21);

    lblVersion = makeLabel(u"lblVersion"_s, u"Version"_s, 170, 36);
    QFont versionFont = tahoma;
    versionFont.setPixelSize(13);
    lblVersion->setFont(versionFont);
    lblVersion->resize(272, 16);

    lblVersionHistory = makeLabel(u"lblVersionHistory"_s, u"Version History"_s, 170, 64);

    lblNewVersion = makeLabel(u"lblNewVersion"_s, u"New version available"_s, 0, 64);
    lblNewVersion->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblNewVersion->setStyleSheet(u"color: red;"_s);
    about::alignRight(lblNewVersion, 442, 64);
    // Shown only once the update file has announced a higher version.
    lblNewVersion->hide();

    memNews = new QPlainTextEdit(u"memNews"_s, this);
    memNews->setObjectName(u"memNews"_s);
    memNews->setGeometry(170, 80, 272, 137);
    memNews->setReadOnly(true);
    memNews->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memNews->setTabChangesFocus(true);

    lblWindowsVersion = makeLabel(u"lblWindowsVersion"_s, u"lblWindowsVersion"_s, 170, 223, true);
    lblCompilerVersion
        = makeLabel(u"lblCompilerVersion"_s, u"lblCompilerVersion"_s, 170, 239, true);

    lblWebSite = makeLabel(u"lblWebSite"_s, QUrl(info::publisherUrl()).host(), 0, 239);
    lblWebSite->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont linkFont = tahoma;
    linkFont.setUnderline(true);
    lblWebSite->setFont(linkFont);
    lblWebSite->setStyleSheet(u"color: blue;"_s);
    lblWebSite->setCursor(Qt::PointingHandCursor);
    lblWebSite->setProperty("Tag", 1);
    about::alignRight(lblWebSite, 442, 239);

    imgDonate = new QLabel(this);
    imgDonate->setObjectName(u"imgDonate"_s);
    imgDonate->setGeometry(268, 257, 74, 21);
    imgDonate->setAttribute(Qt::WA_TranslucentBackground);
    imgDonate->setPixmap(about::donatePicture(devicePixelRatioF()));
    // A picture link still says where it leads.
    imgDonate->setToolTip(u"Donate"_s);
    imgDonate->setAccessibleName(u"Donate"_s);
    imgDonate->setCursor(Qt::PointingHandCursor);
    imgDonate->setProperty("Tag", 2);
    // The links' clicks are told apart from every press in the program (eventFilter).
    QCoreApplication::instance()->installEventFilter(this);

    bbtEula = new QPushButton(u"E.U.L.A."_s, this);
    bbtEula->setObjectName(u"bbtEula"_s);
    bbtEula->setGeometry(170, 255, 75, 25);
    bbtEula->setProperty("Tag", 3);
    bbtEula->setAutoDefault(false);
    connect(bbtEula, &QPushButton::clicked, this, [this] { WebLinkClick(bbtEula); });

    BitBtn1 = new QPushButton(
        platform::themeIcon("window-close", QStyle::SP_DialogCloseButton), u"&Close"_s, this);
    BitBtn1->setObjectName(u"BitBtn1"_s);
    BitBtn1->setGeometry(367, 255, 75, 25);
    connect(BitBtn1, &QPushButton::clicked, this, &TfrmAbout102::BitBtn1Click);
    // Close answers Enter and Escape alike; E.U.L.A. answers Enter once it has the focus.
    platform::installWindowKeys(this, BitBtn1, BitBtn1);

    setTabOrder(BitBtn1, memNews);
    setTabOrder(memNews, bbtEula);
    BitBtn1->setFocus();

    try {
        FormCreate();
    } catch (const std::exception &error) {
        platform::reportUncaughtError(error);
    }
}

TfrmAbout102::~TfrmAbout102()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

void TfrmAbout102::FormCreate()
{
    imgBug->hide();
    lblApplicationTitle->setText(QGuiApplication::applicationName());
    lblVersion->setText(u"Version "_s + about::GetRunningVersionText());
    about::UpdateFetches fetches;
    lblNewVersion->setVisible(about::IsNewVersionAvailable(fetches));
    memNews->setPlainText(about::ReadUpdateNews(fetches));
    lblWindowsVersion->setText(about::FormatOperatingSystem(about::CurrentOperatingSystem()));
    about::fitLine(lblWindowsVersion, 442);
    lblCompilerVersion->setText(u"Compiled with "_s + about::GetCompilerVersionText());
    about::fitLine(lblCompilerVersion, lblWebSite->x() - 8);
}

void TfrmAbout102::BitBtn1Click()
{
    close();
}

void TfrmAbout102::WebLinkClick(QObject *Sender)
{
    const int tag = Sender ? Sender->property("Tag").toInt() : 0;
    const QUrl page = about::WebPageForTag(tag);
    if (!page.isEmpty())
        QDesktopServices::openUrl(page); // a page that cannot be opened gives no message
}

bool TfrmAbout102::eventFilter(QObject *watched, QEvent *event)
{
    const bool onLink = watched == lblWebSite || watched == imgDonate;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        // A link opens as a button fires: pressed and released on it. Every press is seen
        // here, so that one that began anywhere else never counts for a link.
        pressedLink = nullptr;
        if (onLink && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            pressedLink = watched;
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        if (!onLink) {
            pressedLink = nullptr;
        } else if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            // Still on the link when released: a press dragged off it opens nothing.
            const bool clicked = pressedLink == watched
                && static_cast<QWidget *>(watched)->rect().contains(
                    static_cast<QMouseEvent *>(event)->position().toPoint());
            pressedLink = nullptr;
            if (clicked)
                WebLinkClick(watched);
            return true;
        }
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void ShowAboutBox(QWidget *parent)
{
    TfrmAbout102 box(parent);
    box.exec();
}
