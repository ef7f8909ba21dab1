#include "notify/SmsGateway.h"

#include "core/Globali.h"
#include "platform/Shell.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

using namespace notify;
using testsupport::ScopedEnv;

namespace {

const GatewayAddress kGateway{"gw.example.invalid", 80};

GatewayFields Fields() { return GatewayFields{"0A1B2C3D", "SN-1", "mario", "segreto", "3331234567"}; }

}  // namespace

TEST(SmsGatewayUrl, SendUrlKeepsTheKeyOrderAndEncodesTheText) {
    const std::string testo = "Alle 10:42:07 del 15/03/2024 Oculara ha rilevato 3 movimenti sospetti";
    EXPECT_EQ(UrlGateway(1, Fields(), &testo, kGateway),
              "http://gw.example.invalid:80/sms/send.php?az=1&idpc=0A1B2C3D&numserie=SN-1&un=mario"
              "&pwd=segreto&ver=2.0&dest=3331234567"
              "&txt=Alle+10%3A42%3A07+del+15%2F03%2F2024+Oculara+ha+rilevato+3+movimenti+sospetti");
}

TEST(SmsGatewayUrl, CreditAndPurchaseUrlsStopAfterDest) {
    EXPECT_EQ(UrlGateway(2, Fields(), nullptr, kGateway),
              "http://gw.example.invalid:80/sms/send.php?az=2&idpc=0A1B2C3D&numserie=SN-1&un=mario"
              "&pwd=segreto&ver=2.0&dest=3331234567");
    EXPECT_EQ(UrlGateway(3, Fields(), nullptr, kGateway),
              "http://gw.example.invalid:80/sms/send.php?az=3&idpc=0A1B2C3D&numserie=SN-1&un=mario"
              "&pwd=segreto&ver=2.0&dest=3331234567");
}

TEST(SmsGatewayUrl, OnlyTheTextIsEncodedAndOnlyLettersAndDigitsStay) {
    // Blanks, "%", "+", "&", the unreserved marks of other encoders and the
    // Windows-1252 bytes of accented letters and of the euro sign.
    EXPECT_EQ(CodificaTesto("à è & 100% + a-b_c.d*e~"),
              "%E0+%E8+%26+100%25+%2B+a%2Db%5Fc%2Ed%2Ae%7E");
    EXPECT_EQ(CodificaTesto("€"), "%80");
    EXPECT_EQ(CodificaTesto("riga\r\nriga"), "riga%0D%0Ariga");
    EXPECT_EQ(CodificaTesto("AZaz09"), "AZaz09");
    // No Windows-1252 byte: "?" as the code page conversion gives it.
    EXPECT_EQ(CodificaTesto("\xE2\x9C\x93"), "%3F");

    GatewayFields fields = Fields();
    fields.pwd = "a&b%41#c";
    fields.un = "utènte";
    const std::string testo = "à";
    EXPECT_EQ(UrlGateway(1, fields, &testo, kGateway),
              "http://gw.example.invalid:80/sms/send.php?az=1&idpc=0A1B2C3D&numserie=SN-1&un=ut\xE8nte"
              "&pwd=a&b%41#c&ver=2.0&dest=3331234567&txt=%E0");
}

TEST(SmsGatewayUrl, UserValuesAndTextAreTrimmedOfBlanksAndControls) {
    GatewayFields fields = Fields();
    fields.dest = "  333 1234\t\r\n";
    fields.un = "\x01mario ";
    fields.pwd = " se greto ";
    const std::string testo = "\r\n ciao \t";
    EXPECT_EQ(UrlGateway(1, fields, &testo, kGateway),
              "http://gw.example.invalid:80/sms/send.php?az=1&idpc=0A1B2C3D&numserie=SN-1&un=mario"
              "&pwd=se greto&ver=2.0&dest=333 1234&txt=ciao");
    EXPECT_EQ(TrimControls(" \x1F\x20x y\x7F "), "x y\x7F");
    EXPECT_EQ(TrimControls("\t\r\n "), "");
}

TEST(SmsGatewayUrl, GatewayAddressComesFromTheEnvironmentWhenValid) {
    {
        ScopedEnv env("OCULARA_SMS_GATEWAY", std::nullopt);
        const GatewayAddress a = IndirizzoGateway();
        EXPECT_EQ(a.host, "sms-gateway.invalid");
        EXPECT_EQ(a.port, 80);
        EXPECT_EQ(UrlVerificaCredito(Fields()).rfind("http://sms-gateway.invalid:80/sms/send.php?az=2&", 0), 0u);
    }
    {
        ScopedEnv env("OCULARA_SMS_GATEWAY", "127.0.0.1:8081");
        EXPECT_EQ(UrlAcquistaSMS(Fields()).rfind("http://127.0.0.1:8081/sms/send.php?az=3&", 0), 0u);
    }
    {
        ScopedEnv env("OCULARA_SMS_GATEWAY", "gateway.lan");
        EXPECT_EQ(IndirizzoGateway().host, "gateway.lan");
        EXPECT_EQ(IndirizzoGateway().port, 80);
    }
    for (const char* bad : {"host:", "host:0", "host:65536", "host:8o", ":8080", "host:123456"}) {
        ScopedEnv env("OCULARA_SMS_GATEWAY", std::string(bad));
        EXPECT_EQ(IndirizzoGateway().host, "sms-gateway.invalid") << bad;
        EXPECT_EQ(IndirizzoGateway().port, 80) << bad;
    }
}

TEST(SmsGatewayUrl, DialogFieldsCarryTheComputerIdentifier) {
    const std::string saved = IdentificativoPC;
    IdentificativoPC = "DEADBEEF";
    const GatewayFields f = CampiGateway("333", "u", "p");
    IdentificativoPC = saved;
    EXPECT_EQ(f.idpc, "DEADBEEF");
    EXPECT_EQ(f.dest, "333");
    EXPECT_EQ(f.un, "u");
    EXPECT_EQ(f.pwd, "p");
}

TEST(SmsGatewayAnswer, ValoreTagTakesTheTrimmedFirstElement) {
    EXPECT_EQ(ValoreTag("<nr>95</nr>", "nr"), "95");
    EXPECT_EQ(ValoreTag("testo <msg>\r\n  Credito basso \t</msg> coda", "msg"), "Credito basso");
    EXPECT_EQ(ValoreTag("<nr>1</nr><nr>2</nr>", "nr"), "1");
    EXPECT_EQ(ValoreTag("<err>a <b> c</err>", "err"), "a <b> c");
    EXPECT_EQ(ValoreTag("<nr>\xE8</nr>", "nr"), "\xE8");
}

TEST(SmsGatewayAnswer, ValoreTagIsEmptyForMissingMisplacedOrBlankElements) {
    EXPECT_EQ(ValoreTag("", "nr"), "");
    EXPECT_EQ(ValoreTag("<nr>95", "nr"), "");
    EXPECT_EQ(ValoreTag("95</nr>", "nr"), "");
    EXPECT_EQ(ValoreTag("</nr>95<nr>", "nr"), "");
    // The first close tag decides, even when a later one would follow.
    EXPECT_EQ(ValoreTag("</nr><nr>95</nr>", "nr"), "");
    EXPECT_EQ(ValoreTag("<NR>95</NR>", "nr"), "");
    EXPECT_EQ(ValoreTag("<nr> \r\n </nr>", "nr"), "");
    EXPECT_EQ(ValoreTag("<nr></nr>", "nr"), "");
    EXPECT_EQ(ValoreTag("<nrx>1</nrx>", "nr"), "");
}

TEST(SmsGatewayProxy, PortIsTheDecimalValueOr8080) {
    EXPECT_EQ(ProxyPort("3128"), 3128);
    EXPECT_EQ(ProxyPort("0003128"), 3128);
    EXPECT_EQ(ProxyPort("+3128"), 3128);
    for (const char* bad : {"", "31a8", " 3128", "3128 ", "+", "-", "0x10", "99999999999", "3.5"})
        EXPECT_EQ(ProxyPort(bad), 8080) << '"' << bad << '"';
}

TEST(SmsGatewayProxy, ApplicaProxySetsAndClearsEveryField) {
    TSettings s;
    s.Conn_UsaProxy = true;
    s.Conn_ProxyServer = "proxy.lan";
    s.Conn_ProxyPorta = "3128";
    s.Conn_ProxyAuth = true;
    s.Conn_ProxyUsername = "utente";
    s.Conn_ProxyPassword = "chiave";
    HttpClient http;

    ApplicaProxy(s, http);
    EXPECT_EQ(http.proxy.server, "proxy.lan");
    EXPECT_EQ(http.proxy.port, 3128);
    EXPECT_TRUE(http.proxy.basicAuthentication);
    EXPECT_EQ(http.proxy.username, "utente");
    EXPECT_EQ(http.proxy.password, "chiave");

    // Authentication off: no credentials, even though the last request had them.
    s.Conn_ProxyAuth = false;
    s.Conn_ProxyPorta = "";
    ApplicaProxy(s, http);
    EXPECT_EQ(http.proxy.server, "proxy.lan");
    EXPECT_EQ(http.proxy.port, 8080);
    EXPECT_FALSE(http.proxy.basicAuthentication);
    EXPECT_EQ(http.proxy.username, "");
    EXPECT_EQ(http.proxy.password, "");

    s.Conn_ProxyAuth = true;
    ApplicaProxy(s, http);
    s.Conn_UsaProxy = false;
    ApplicaProxy(s, http);
    EXPECT_EQ(http.proxy.server, "");
    EXPECT_FALSE(http.proxy.basicAuthentication);
    EXPECT_EQ(http.proxy.username, "");
    EXPECT_EQ(http.proxy.password, "");
}

TEST(SmsGatewayCredit, AnswerChoosesTheBox) {
    const auto none = EsitoVerificaCredito("");
    ASSERT_TRUE(none.has_value());
    EXPECT_EQ(none->caption, "Attenzione");
    EXPECT_EQ(none->flags, platform::MB_OK | platform::MB_ICONWARNING);
    EXPECT_EQ(none->text,
              "Impossibile stabilire una connessione con il server. Assicurarsi che la connessione ad "
              "Internet sia attiva.\nAssicurarsi che non siano presenti firewall che impediscano la "
              "connessione ad Internet.\nVerificare le impostazioni tramite il pulsante \"Configura "
              "connessione\".");

    const auto err = EsitoVerificaCredito("<msg>Credito: 10</msg><err>Password errata</err>");
    ASSERT_TRUE(err.has_value());
    EXPECT_EQ(err->text, "Password errata");
    EXPECT_EQ(err->caption, "Attenzione");
    EXPECT_EQ(err->flags, platform::MB_OK | platform::MB_ICONWARNING);

    const auto msg = EsitoVerificaCredito("<msg>Credito: 10</msg>");
    ASSERT_TRUE(msg.has_value());
    EXPECT_EQ(msg->text, "Credito: 10");
    EXPECT_EQ(msg->caption, "OK");
    EXPECT_EQ(msg->flags, platform::MB_OK | platform::MB_ICONINFORMATION);

    EXPECT_FALSE(EsitoVerificaCredito("<nr>5</nr>").has_value());
    EXPECT_FALSE(EsitoVerificaCredito("  ").has_value());
}

TEST(SmsGatewayCredit, PurchaseOpensTheAz3AddressInTheBrowser) {
    testsupport::TempDir bin, run;
    testsupport::WriteFile(bin / "xdg-open", "#!/bin/sh\nexit 0\n");
    ASSERT_EQ(::chmod((bin / "xdg-open").c_str(), 0755), 0);
    ScopedEnv path("PATH", bin.path());
    ScopedEnv runtime("XDG_RUNTIME_DIR", run.path());
    ScopedEnv gateway("OCULARA_SMS_GATEWAY", "127.0.0.1:8080");
    std::vector<std::vector<std::string>> spawned;
    platform::SetSpawnForTests([&](const std::vector<std::string>& argv) {
        spawned.push_back(argv);
        return true;
    });
    const bool opened = AcquistaSMS(GatewayFields{"0A1B2C3D", "", " u ", "p w", "333"});
    platform::SetSpawnForTests(nullptr);

    EXPECT_TRUE(opened);
    ASSERT_EQ(spawned.size(), 1u);
    ASSERT_EQ(spawned[0].size(), 2u);
    EXPECT_EQ(spawned[0][0], bin / "xdg-open");
    // The password is on no command line: the browser gets a page that only
    // this user can read, and the page leads to the address.
    EXPECT_EQ(spawned[0][1].find("p w"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(spawned[0][1].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(testsupport::ReadFile(spawned[0][1])
                  .find("href=\"http://127.0.0.1:8080/sms/send.php?az=3&amp;idpc=0A1B2C3D&amp;numserie="
                        "&amp;un=u&amp;pwd=p w&amp;ver=2.0&amp;dest=333\""),
              std::string::npos);
    platform::RemovePrivatePages();
}
