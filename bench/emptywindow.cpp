// SPDX-License-Identifier: GPL-3.0-or-later
// The yardstick of the start-up benchmark: an empty Qt Widgets main window that carries the
// same seven Japanese menus as the program's main window, and nothing else.
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("empty window"));
    const QList<QStringList> menus = {
        {QStringLiteral("画像の読み込み"), QStringLiteral("読み込み開始")},
        {QStringLiteral("読み込み中止"), QStringLiteral("中止する")},
        {QStringLiteral("ブラウザ"), QStringLiteral("InternetExplorer"), QString(),
         QStringLiteral("簡易ブラウザ")},
        {QStringLiteral("ツール"), QStringLiteral("ダイアルアップ接続")},
        {QStringLiteral("保存場所"), QStringLiteral("場所を指定")},
        {QStringLiteral("ヘルプ"), QStringLiteral("ヘルプを表示"), QString(),
         QStringLiteral("バージョン情報")},
        {QStringLiteral("終了"), QStringLiteral("終了する")},
    };
    for (const QStringList &items : menus) {
        QMenu *menu = window.menuBar()->addMenu(items.first());
        for (qsizetype i = 1; i < items.size(); ++i) {
            if (items[i].isEmpty())
                menu->addSeparator();
            else
                menu->addAction(items[i]);
        }
    }
    // The program's main window has a fixed client area of 755 x 571 pixels.
    window.setFixedSize(755, 571 + window.menuBar()->sizeHint().height());
    window.show();
    return app.exec();
}
