// The floor of the idle agent's benchmark (agent_bench.py): the least a Qt 6
// program with a status-area icon and a menu does and holds while it waits.

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QMenu menu;
  menu.addAction("Quit", &app, &QApplication::quit);
  QSystemTrayIcon icon(QIcon(argc > 1 ? argv[1] : ""));
  icon.setContextMenu(&menu);
  icon.show();
  return QApplication::exec();
}
