// The floor for start-up: a bare Qt 6 window with one line of Chinese text.
#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("无线模块配置和测试工具"));
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("接收信息框：发送信息框：")));
    window.resize(737, 662);
    window.show();
    return app.exec();
}
