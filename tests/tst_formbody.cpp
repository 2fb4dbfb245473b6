#include "web/FormBody.h"

#include <QtTest>

class TstFormBody : public QObject
{
    Q_OBJECT
private slots:
    // Fields as "name=value|name=value" after decoding, or the words the
    // refusal must contain.
    void decode_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("fields");
        QTest::addColumn<QByteArray>("error");
        QTest::newRow("empty body") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("order kept") << QByteArray("action=set&time=7:05&speed=4") << QByteArray("action=set|time=7:05|speed=4") << QByteArray();
        QTest::newRow("plus is a blank, escapes any case") << QByteArray("a=x+y%2b%2Bz%3d%26") << QByteArray("a=x y++z=&") << QByteArray();
        QTest::newRow("escaped name") << QByteArray("%61ction=stop") << QByteArray("action=stop") << QByteArray();
        QTest::newRow("empty value") << QByteArray("time=") << QByteArray("time=") << QByteArray();
        QTest::newRow("second '=' belongs to the value") << QByteArray("a=b=c") << QByteArray("a=b=c") << QByteArray();
        QTest::newRow("no '='") << QByteArray("action") << QByteArray() << QByteArray("\"action\" has no '='");
        QTest::newRow("empty piece") << QByteArray("action=stop&") << QByteArray() << QByteArray("\"\" has no '='");
        QTest::newRow("empty name") << QByteArray("=stop") << QByteArray() << QByteArray("no name");
        QTest::newRow("name given twice") << QByteArray("speed=4&speed=8") << QByteArray() << QByteArray("\"speed\" is given twice");
        QTest::newRow("twice once decoded") << QByteArray("speed=4&sp%65ed=8") << QByteArray() << QByteArray("\"speed\" is given twice");
        QTest::newRow("'%' at the end") << QByteArray("a=1%") << QByteArray() << QByteArray("'%' without two hex digits");
        QTest::newRow("'%' one digit") << QByteArray("a=%4") << QByteArray() << QByteArray("'%' without two hex digits");
        QTest::newRow("'%' not hex") << QByteArray("a%zz=1") << QByteArray() << QByteArray("'%' without two hex digits");
        QTest::newRow("largest body") << "a=" + QByteArray(MaxFormBodyBytes - 2, 'x') << "a=" + QByteArray(MaxFormBodyBytes - 2, 'x') << QByteArray();
        QTest::newRow("one byte too many") << "a=" + QByteArray(MaxFormBodyBytes - 1, 'x') << QByteArray() << QByteArray("larger than 1024 bytes");
    }
    void decode()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, fields);
        QFETCH(QByteArray, error);
        const FormBody form = decodeFormBody(body);
        QByteArrayList got;
        for (const FormField &f : form.fields)
            got << f.name + '=' + f.value;
        QCOMPARE(got.join('|'), fields);
        QVERIFY2(error.isEmpty() ? form.ok() : form.error.contains(error), form.error.constData());
        QVERIFY(!form.error.contains('\n'));
    }

    // A refusal quotes what the peer sent; it must stay one short, printable line.
    void reasonStaysOneLine()
    {
        const FormBody form = decodeFormBody("x%0D%0AInjected:%201=1&x%0D%0AInjected:%201=" + QByteArray(200, 'y'));
        QVERIFY(!form.ok());
        QVERIFY2(form.error.startsWith("The field \"x??Injected: 1\" is given twice"), form.error.constData());
        for (char c : form.error)
            QVERIFY(c >= 0x20 && c <= 0x7e);
        QCOMPARE(quotedForReason(QByteArray(50, 'z')), QByteArray(40, 'z') + "...");
        QCOMPARE(quotedForReason("caf\xc3\xa9\tx"), QByteArray("caf???x"));
    }
};

QTEST_APPLESS_MAIN(TstFormBody)
#include "tst_formbody.moc"
