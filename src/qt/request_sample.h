#pragma once
// "Request sample...": the context menus of the Receive button and of the main window offer it; a
// small dialog asks for the sample number and shows the SDS device number the request goes to.
#include <QDialog>
#include <optional>

class QLabel;
class QSpinBox;

namespace jx {

class MainWindow;
class QtWindow;

class RequestSampleDialog : public QDialog {
  public:
    RequestSampleDialog(QWidget* parent, int sds_device, int number);
    int number() const;
    QSpinBox* number_box() const { return number_; }

  private:
    QSpinBox* number_;
};

// Adds the menu entry to the Receive button's context menu and to the window's own; the number
// chosen goes to the main window's request_sample, and is offered again the next time.
void add_request_sample_menu(QtWindow& window, MainWindow& procedure);

}  // namespace jx
