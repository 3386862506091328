#include "TCircularBufferUnit.h"

#include <QTest>

class TestCircularBuffer : public QObject {
  Q_OBJECT
private slots:
  void fresh_queue_gives_zero();
  void holds_nine_and_drops_the_tenth();
  void wraps_around_in_order();
  void reset_and_remove_all();
};

void TestCircularBuffer::fresh_queue_gives_zero() {
  TCircularBuffer q;
  QVERIFY(q.is_empty());
  QCOMPARE(q.get(), QVariant(0));
  QVERIFY(q.is_empty());
}

void TestCircularBuffer::holds_nine_and_drops_the_tenth() {
  TCircularBuffer q;
  for (int i = 1; i <= 10; ++i)
    q.put(i);
  QVERIFY(q.is_full());
  q.put(11); // ignored while full
  QCOMPARE(q.get().toInt(), 1);
  QVERIFY(!q.is_full());
  q.put(12);
  for (int expected : {2, 3, 4, 5, 6, 7, 8, 9, 12})
    QCOMPARE(q.get().toInt(), expected);
  QVERIFY(q.is_empty());
  QCOMPARE(q.get(), QVariant(0));
}

void TestCircularBuffer::wraps_around_in_order() {
  TCircularBuffer q;
  int next_in = 0;
  int next_out = 0;
  // Three in, two out, many times: the indices pass the end of the slots repeatedly.
  for (int round = 0; round < 6; ++round) {
    for (int k = 0; k < 3; ++k)
      q.put(next_in++);
    for (int k = 0; k < 2; ++k)
      QCOMPARE(q.get().toInt(), next_out++);
  }
  while (!q.is_empty())
    QCOMPARE(q.get().toInt(), next_out++);
  QCOMPARE(next_out, next_in);
}

void TestCircularBuffer::reset_and_remove_all() {
  TCircularBuffer q;
  for (int code : {225, 27, 225, 227, 225})
    q.put(code);
  QCOMPARE(q.remove_all(225), 3);
  QCOMPARE(q.get().toInt(), 27);
  QCOMPARE(q.get().toInt(), 227);
  QVERIFY(q.is_empty());
  q.put(27);
  q.put(225);
  q.reset();
  QVERIFY(q.is_empty());
  QCOMPARE(q.get(), QVariant(0));
}

QTEST_GUILESS_MAIN(TestCircularBuffer)
#include "test_circular_buffer.moc"
