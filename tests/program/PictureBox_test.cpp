// placeholder: replaced by its owner
#include <QtTest>
class PictureBoxTest : public QObject { Q_OBJECT };
QTEST_MAIN(PictureBoxTest)
#include "PictureBox_test.moc"
