// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/FormBody.h"

#include <QtTest>

class TstFormBody : public QObject
{
    Q_OBJECT
private slots:
    // "name=value|name=value" after decoding, or "!" and words the refusal must contain.
    void decode_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("result");
        QTest::newRow("empty body") << QByteArray() << QByteArray();
        QTest::newRow("order kept") << QByteArray("action=set&time=7:05&speed=4") << QByteArray("action=set|time=7:05|speed=4");
        QTest::newRow("plus is a blank, escapes any case") << QByteArray("a=x+y%2b%2Bz%3d%26") << QByteArray("a=x y++z=&");
        QTest::newRow("empty value, second '=' in the value") << QByteArray("time=&a=b=c") << QByteArray("time=|a=b=c");
        QTest::newRow("no '='") << QByteArray("action") << QByteArray("!\"action\" has no '='");
        QTest::newRow("empty piece") << QByteArray("action=stop&") << QByteArray("!\"\" has no '='");
        QTest::newRow("empty name") << QByteArray("=stop") << QByteArray("!no name");
        QTest::newRow("twice once decoded") << QByteArray("speed=4&sp%65ed=8") << QByteArray("!\"speed\" is given twice");
        QTest::newRow("'%' one digit") << QByteArray("a=%4") << QByteArray("!'%' without two hex digits");
        QTest::newRow("'%' not hex") << QByteArray("a%zz=1") << QByteArray("!'%' without two hex digits");
        QTest::newRow("NUL byte") << QByteArray("action=st\0art", 13) << QByteArray("!The form holds a NUL byte.");
        QTest::newRow("NUL byte escaped") << QByteArray("action=start%00") << QByteArray("!\"action=start%00\" holds a NUL byte.");
        QTest::newRow("NUL byte escaped in a name") << QByteArray("a%00=1") << QByteArray("!\"a%00=1\" holds a NUL byte.");
        QTest::newRow("largest body") << "a=" + QByteArray(MaxFormBodyBytes - 2, 'x') << "a=" + QByteArray(MaxFormBodyBytes - 2, 'x');
        QTest::newRow("one byte too many") << "a=" + QByteArray(MaxFormBodyBytes - 1, 'x') << QByteArray("!larger than 1024 bytes");
    }
    void decode()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, result);
        const FormBody form = decodeFormBody(body);
        QByteArrayList got;
        for (const FormField &f : form.fields)
            got << f.name + '=' + f.value;
        if (result.startsWith('!'))
            QVERIFY2(!form.ok() && got.isEmpty() && form.error.contains(result.mid(1)), form.error.constData());
        else
            QCOMPARE(form.error + got.join('|'), result);
    }

    // A refusal quotes what the peer sent; it must stay one short, printable line.
    void reasonStaysOneLine()
    {
        const FormBody form = decodeFormBody("x%0D%0AInjected:%201=1&x%0D%0AInjected:%201=" + QByteArray(200, 'y'));
        QVERIFY2(form.error.startsWith("The field \"x??Injected: 1\" is given twice"), form.error.constData());
        QCOMPARE(quotedForReason(QByteArray(50, 'z')), QByteArray(40, 'z') + "...");
        QCOMPARE(quotedForReason("caf\xc3\xa9\x7f"), QByteArray("caf???"));
    }
};

QTEST_APPLESS_MAIN(TstFormBody)
#include "tst_formbody.moc"
