#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <initializer_list>

// The picker's behaviour switches, in the order of their set bits.
enum TOptions : quint8 {
    fdoBrowseForComputer, // BIF_BROWSEFORCOMPUTER 0x1000
    fdoBrowseForPrinter, // BIF_BROWSEFORPRINTER 0x2000
    fdoDontgoBelowDomain, // BIF_DONTGOBELOWDOMAIN 0x0002
    fdoReturnFSAncestors, // BIF_RETURNFSANCESTORS 0x0008
    fdoReturnOnlyFSDirs, // BIF_RETURNONLYFSDIRS 0x0001
    fdoStatusText, // BIF_STATUSTEXT 0x0004
    fdoNewDialogStyle, // BIF_NEWDIALOGSTYLE 0x0040
    fdoNoNewFolderButton, // BIF_NONEWFOLDERBUTTON 0x0200
    fdoEditBox, // BIF_EDITBOX 0x0010
    fdoShareable, // BIF_SHAREABLE 0x8000, only with the new dialog style
};

// A set of TOptions held in 16 bits: bit n stands for the option of ordinal n.
class TFolderOptions
{
public:
    constexpr TFolderOptions() = default;
    constexpr TFolderOptions(std::initializer_list<TOptions> options)
    {
        for (TOptions option : options)
            m_bits |= bitOf(option);
    }

    constexpr bool contains(TOptions option) const { return (m_bits & bitOf(option)) != 0; }
    constexpr TFolderOptions &operator+=(TOptions option)
    {
        m_bits |= bitOf(option);
        return *this;
    }
    constexpr TFolderOptions &operator-=(TOptions option)
    {
        m_bits &= static_cast<quint16>(~bitOf(option));
        return *this;
    }
    constexpr quint16 bits() const { return m_bits; }
    constexpr bool operator==(const TFolderOptions &) const = default;

private:
    static constexpr quint16 bitOf(TOptions option) { return static_cast<quint16>(1u << option); }

    quint16 m_bits = 0;
};

// Where the dialog opens.
enum TDialogPosition : quint8 {
    fdpDefault, // 20 pixels right of and below the owner window's top-left corner
    fdpScreenCenter, // centred in the work area of the nearest screen
    fdpXY, // at (DialogX, DialogY), negative values raised to 0
    fdpParentFormCenter, // centred on the owner window
};

// The options both pickers of the program use: file-system folders only, resizable, an edit
// box, no new-folder button.
inline constexpr TFolderOptions systemFolderOptions { fdoReturnOnlyFSDirs, fdoNewDialogStyle,
    fdoNoNewFolderButton, fdoEditBox, fdoShareable };

// The BIF_ flags of an option set (BIF_SHAREABLE only together with BIF_NEWDIALOGSTYLE).
quint32 browseFlags(TFolderOptions options);

// The dialog's new top-left corner. owner and dialog are frame rectangles in screen
// coordinates, workArea that of the screen nearest to the dialog; halves are rounded toward
// zero.
QPoint dialogPlacement(TDialogPosition position, const QRect &owner, const QRect &dialog,
    const QRect &workArea, int dialogX, int dialogY);

// The folder picker: a component owned by a window. The caller puts a start folder into
// Directory, calls Execute() and, on true, reads the chosen folder back from Directory.
class TFolderDialog : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QString Title READ Title WRITE SetTitle)
    Q_PROPERTY(QString Directory READ Directory WRITE SetDirectory)
    Q_PROPERTY(int ImageIndex READ ImageIndex)
    Q_PROPERTY(TFolderOptions Options READ Options WRITE SetOptions)
    Q_PROPERTY(TDialogPosition DialogPosition READ DialogPosition WRITE SetDialogPosition)
    Q_PROPERTY(int DialogX READ DialogX WRITE SetDialogX)
    Q_PROPERTY(int DialogY READ DialogY WRITE SetDialogY)
    Q_PROPERTY(QString Version READ Version WRITE SetVersion)

public:
    // Directory starts as the process's current directory.
    explicit TFolderDialog(QObject *owner = nullptr);

    int Tag() const { return FTag; }
    void SetTag(int value) { FTag = value; }

    QString Caption() const { return FCaption; }
    void SetCaption(const QString &value) { FCaption = value; }
    QString Title() const { return FTitle; }
    void SetTitle(const QString &value) { FTitle = value; }
    QString Directory() const { return FDirectory; }
    void SetDirectory(const QString &value) { FDirectory = value; }
    int ImageIndex() const { return FImageIndex; }
    TFolderOptions Options() const { return FOptions; }
    void SetOptions(TFolderOptions value) { FOptions = value; }
    TDialogPosition DialogPosition() const { return FDialogPosition; }
    void SetDialogPosition(TDialogPosition value) { FDialogPosition = value; }
    int DialogX() const { return FDialogX; }
    void SetDialogX(int value) { FDialogX = value; }
    int DialogY() const { return FDialogY; }
    void SetDialogY(int value) { FDialogY = value; }

    // Always "1.1.4.0"; writing is accepted and ignored.
    QString Version() const;
    void SetVersion(const QString &) { }

    // The owner window measured by the placement rules during the last Execute().
    QWidget *Parent() const { return FParent; }

    // Shows the folder dialog modally. True when a folder with a local path was chosen: it
    // is then in Directory. A Directory that names no folder is first replaced by the
    // current directory, and stays replaced after a cancel.
    bool Execute();

private:
    int FTag = 0;
    QString FTitle;
    QString FDirectory;
    TFolderOptions FOptions;
    qint32 FImageIndex = 0;
    qint32 FDialogX = 0;
    qint32 FDialogY = 0;
    TDialogPosition FDialogPosition = fdpDefault;
    QString FCaption;
    QPointer<QWidget> FParent;
};
