// The window's controls, their texts, bindings, initial states and tab order.
// Positions are those of the window definition, in 96-dpi pixels; Qt scales
// them with the screen.
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>

#include "app/ButtonPictures.h"
#include "app/DataSource.h"
#include "app/MainWindow.h"
#include "app/PartsProgressBar.h"
#include "app/TransferGrid.h"
#include "app/TransferListModel.h"

namespace {

const QColor kLabelBlue(0, 0, 255);

template <class T>
T* Make(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* widget = new T(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

// A label whose text ends just before the control it labels.
QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int left, int top, int width, int height,
                  bool blue) {
    auto* label = Make<QLabel>(parent, name, left, top, width, height);
    // A label may come to show a file name, a path or server text: as it
    // is, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(QString::fromLatin1(text));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (blue) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, kLabelBlue);
        label->setPalette(palette);
    }
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, const QIcon& picture, int left, int top,
                        int width, int height) {
    auto* button = Make<QPushButton>(parent, name, left, top, width, height);
    button->setText(QString::fromLatin1(text));
    button->setIcon(picture);
    QFont font = button->font();
    font.setBold(true);
    button->setFont(font);
    // No button becomes the default by taking the focus; the window gives
    // Enter to the focused button (keyPressEvent).
    button->setAutoDefault(false);
    return button;
}

QPushButton* MakeFolderButton(QWidget* parent, const char* name, int left, int top) {
    auto* button = Make<QPushButton>(parent, name, left, top, 25, 21);
    button->setIcon(FolderPicture());
    button->setIconSize(QSize(16, 16));
    button->setAutoDefault(false);
    return button;
}

}  // namespace

void TForm1::BuildWindow() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("QEL - Extract File Transfer 1.0"));
    // The window's background is the button-face colour.
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, windowPalette.color(QPalette::Button));
    setPalette(windowPalette);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    setFont(font);
    resize(688, 480);

    GroupBox2 = Make<QGroupBox>(this, "GroupBox2", 176, 10, 345, 49);
    Label1 = Make<QLabel>(GroupBox2, "Label1", 24, 12, 297, 29);
    Label1->setTextFormat(Qt::PlainText);
    Label1->setText(QStringLiteral("Transmit Extract Files"));
    Label1->setAlignment(Qt::AlignCenter);
    QFont titleFont = font;
    titleFont.setPixelSize(13);
    titleFont.setBold(true);
    Label1->setFont(titleFont);
    QPalette titlePalette = Label1->palette();
    titlePalette.setColor(QPalette::WindowText, kLabelBlue);
    Label1->setPalette(titlePalette);

    FileListBox1 = Make<QListWidget>(this, "FileListBox1", 616, 32, 49, 41);
    FileListBox1->hide();

    PageControl1 = Make<TPageControl>(this, "PageControl1", 8, 80, 665, 393);
    PageControl1->tabBar()->setObjectName(QStringLiteral("PageControl1TabBar"));
    // The user's page changes wait until the focused edit gives up its text.
    PageControl1->SetLeaveCheck([this] { return !dataSource1_ || dataSource1_->CommitFocused(); });
    connect(PageControl1, &TPageControl::tabClicked, this, [this] { Guarded([this] { PageControl1Click(); }); });
    BuildFilesPage();
    BuildConfigurationPage();
    PageControl1->setCurrentIndex(0);

    BindSettings();
    SetTabOrders();
}

void TForm1::BuildFilesPage() {
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    PageControl1->addTab(TabSheet1, QStringLiteral("Files To Copy"));

    DBGrid3 = Make<TTransferGrid>(TabSheet1, "DBGrid3", 88, 26, 489, 176);
    dataSource2_ = std::make_unique<TTransferListModel>(MemTable_Import);
    DBGrid3->setModel(dataSource2_.get());
    const int widths[] = {93, 210, 96, 69};
    for (int column = 0; column < 4; ++column) DBGrid3->horizontalHeader()->resizeSection(column, widths[column]);
    connect(DBGrid3->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) MemTable_Import.SetCurrent(static_cast<std::size_t>(current.row()));
            });
    connect(DBGrid3, &TTransferGrid::deleteRequested, this, [this] { Guarded([this] { DeleteGridRows(); }); });

    Label6 = MakeLabel(TabSheet1, "Label6", "Files Will Be Copied To:", 32, 202, 160, 21, false);
    Label6->hide();
    DBEdit5 = Make<QLineEdit>(TabSheet1, "DBEdit5", 200, 200, 369, 21);
    DBEdit5->hide();
    DBEdit5->setEnabled(false);
    Label7 = MakeLabel(TabSheet1, "Label7", "Files Will Be Copied From:", 32, 226, 160, 21, true);
    DBEdit6 = Make<QLineEdit>(TabSheet1, "DBEdit6", 200, 226, 369, 21);
    DBEdit6->setEnabled(false);
    Label9 = MakeLabel(TabSheet1, "Label9", "Transfer Progress:", 56, 264, 168, 21, true);
    ProgressBar1 = Make<TPartsProgressBar>(TabSheet1, "ProgressBar1", 232, 262, 200, 24);
    ProgressBar1->hide();

    BitBtn1 = MakeButton(TabSheet1, "BitBtn1", "Upload", TwoSheetsPicture(), 184, 318, 91, 33);
    BitBtn2 = MakeButton(TabSheet1, "BitBtn2", "Quit", RedCrossPicture(), 392, 318, 81, 33);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn1Click(); }); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn2Click(); }); });
}

void TForm1::BuildConfigurationPage() {
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    PageControl1->addTab(TabSheet2, QStringLiteral("Configuration"));

    GroupBox1 = Make<QGroupBox>(TabSheet2, "GroupBox1", 40, 16, 593, 257);
    Label2 = MakeLabel(GroupBox1, "Label2", "Hotel Location Code:", 24, 24, 193, 21, true);
    DBEdit1 = Make<QLineEdit>(GroupBox1, "DBEdit1", 232, 24, 57, 21);
    Label10 = MakeLabel(GroupBox1, "Label10", "Hotel Location Code:", 24, 50, 193, 21, true);
    DBEdit8 = Make<QLineEdit>(GroupBox1, "DBEdit8", 232, 50, 57, 21);
    Label148 = MakeLabel(GroupBox1, "Label148", "System Interface:", 24, 78, 193, 21, true);
    DBComboBox1 = Make<QComboBox>(GroupBox1, "DBComboBox1", 232, 78, 129, 21);
    DBComboBox1->setEditable(true);
    DBComboBox1->setInsertPolicy(QComboBox::NoInsert);
    DBComboBox1->setCompleter(nullptr);   // the text stays exactly as typed
    DBComboBox1->addItems({QStringLiteral("OnQ"), QStringLiteral("Corvane Ledger")});
    Label3 = MakeLabel(GroupBox1, "Label3", "Last Date Files Were Copied:", 24, 106, 193, 21, true);
    DBEdit2 = Make<QLineEdit>(GroupBox1, "DBEdit2", 232, 106, 73, 21);
    Label4 = MakeLabel(GroupBox1, "Label4", "Copy Extract Files From:", 24, 134, 193, 21, true);
    DBEdit3 = Make<QLineEdit>(GroupBox1, "DBEdit3", 232, 134, 305, 21);
    BitBtn5 = MakeFolderButton(GroupBox1, "BitBtn5", 540, 134);
    Label5 = MakeLabel(GroupBox1, "Label5", "Copy Extract Files To:", 24, 162, 193, 21, true);
    Label5->hide();
    DBEdit4 = Make<QLineEdit>(GroupBox1, "DBEdit4", 232, 162, 305, 21);
    DBEdit4->hide();
    BitBtn3 = MakeFolderButton(GroupBox1, "BitBtn3", 540, 162);
    BitBtn3->hide();
    // Beside the path it resets.
    Button1 = Make<QPushButton>(GroupBox1, "Button1", 232, 162, 81, 23);
    Button1->setText(QStringLiteral("Reset Path"));
    Button1->setAutoDefault(false);
    Label8 = MakeLabel(GroupBox1, "Label8", "Last Copy Date:", 24, 212, 193, 21, true);
    DBEdit7 = Make<QLineEdit>(GroupBox1, "DBEdit7", 232, 212, 73, 21);

    BitBtn4 = MakeButton(TabSheet2, "BitBtn4", "Save", GreenTickPicture(), 160, 288, 83, 33);
    BitBtn4->setDefault(true);   // drawn as the page's default; Enter presses it
    BitBtn6 = MakeButton(TabSheet2, "BitBtn6", "Cancel", RedCrossPicture(), 392, 288, 81, 33);

    connect(BitBtn4, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn4Click(); }); });
    connect(BitBtn6, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn6Click(); }); });
    connect(BitBtn5, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn5Click(); }); });
    connect(BitBtn3, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn3Click(); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
}

void TForm1::BindSettings() {
    dataSource1_ = std::make_unique<TDataSource>(DbfZAVSys, [this](const TDataSource::Handler& h) { Guarded(h); });
    TDataSource& source = *dataSource1_;
    source.BindEdit(DBEdit1, "LOCCODE", true);
    source.BindEdit(DBEdit8, "PROPCODE", true);
    source.BindComboBox(DBComboBox1, "PMS");
    source.BindEdit(DBEdit2, "LASTCOPY", true);
    source.BindEdit(DBEdit7, "LASTCOPY", true);
    source.BindEdit(DBEdit3, "COPYFROM", false);
    source.BindEdit(DBEdit6, "COPYFROM", false);
    source.BindEdit(DBEdit4, "COPYTO", false);
    source.BindEdit(DBEdit5, "COPYTO", false);
    for (QWidget* edit : {static_cast<QWidget*>(DBEdit1), static_cast<QWidget*>(DBEdit8), static_cast<QWidget*>(DBEdit7)})
        source.SetOnExit(edit, [this] { DBEdit1Exit(); });
    source.SetOnChange(DBComboBox1, [this] { DBComboBox1Change(); });
}

void TForm1::SetTabOrders() {
    // Hidden and disabled controls are skipped by Qt's focus chain.
    QWidget* const filesPage[] = {DBGrid3, BitBtn1, BitBtn2, DBEdit5, DBEdit6};
    for (std::size_t i = 1; i < std::size(filesPage); ++i) setTabOrder(filesPage[i - 1], filesPage[i]);
    QWidget* const configurationPage[] = {DBEdit1, DBEdit8, DBComboBox1, DBEdit2, DBEdit3, DBEdit4,
                                          DBEdit7, BitBtn5, BitBtn3,     Button1, BitBtn4, BitBtn6};
    for (std::size_t i = 1; i < std::size(configurationPage); ++i)
        setTabOrder(configurationPage[i - 1], configurationPage[i]);
    for (QWidget* label : findChildren<QLabel*>()) label->setFocusPolicy(Qt::NoFocus);
}
