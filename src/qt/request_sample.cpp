#include "qt/request_sample.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QMenu>
#include <QSpinBox>
#include <memory>

#include "app/main_window.h"
#include "audio/sds.h"
#include "platform/window/dialog_ids.h"
#include "qt/qt_window.h"

namespace jx {

RequestSampleDialog::RequestSampleDialog(QWidget* parent, int sds_device, int number)
    : QDialog(parent) {
    setWindowTitle("Request sample");
    auto* form = new QFormLayout(this);
    number_ = new QSpinBox(this);
    number_->setRange(0, sds::max_sample_number);
    number_->setValue(number);
    form->addRow("Sample number:", number_);
    auto* device = new QLabel(QString::number(sds_device), this);
    device->setObjectName("sds_device");
    form->addRow("SDS device number:", device);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

int RequestSampleDialog::number() const {
    return number_->value();
}

void add_request_sample_menu(QtWindow& window, MainWindow& procedure) {
    auto last_number = std::make_shared<int>(0);
    QAction* request = new QAction("Request sample\u2026", &window);
    QObject::connect(request, &QAction::triggered, &window, [&window, &procedure, last_number] {
        RequestSampleDialog dialog(&window, procedure.sds_device(), *last_number);
        if (dialog.exec() != QDialog::Accepted) return;
        *last_number = dialog.number();
        procedure.request_sample(*last_number);
    });
    // The window's own menu shows where no control has one of its own.
    for (QWidget* widget : {window.control(ids::receive), static_cast<QWidget*>(&window)}) {
        widget->setContextMenuPolicy(Qt::ActionsContextMenu);
        widget->addAction(request);
    }
}

}  // namespace jx
