#include <gtest/gtest.h>

#include <QTimeZone>

#include "onvif/Replies.h"
#include "onvif/Soap.h"

namespace kavrel::onvif {
namespace {

// Derived by hand: printf 'NONCE0123456789A2026-01-02T03:04:05Zsecret' | openssl sha1 -binary |
// base64
TEST(OnvifSoap, DigestOfKnownNonceCreatedAndPassword) {
    EXPECT_EQ(PasswordDigest("NONCE0123456789A", "2026-01-02T03:04:05Z", "secret"),
              "gNcVToicq1kY/dRyLqf2Q9RKZso=");
    Credentials c{"admin", "secret", QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone::utc()),
                  "NONCE0123456789A"};
    const QByteArray envelope = Envelope("<tds:GetProfiles/>", &c);
    EXPECT_TRUE(envelope.contains("gNcVToicq1kY/dRyLqf2Q9RKZso="));
    EXPECT_TRUE(envelope.contains("2026-01-02T03:04:05Z</wsu:Created>"));
    EXPECT_FALSE(envelope.contains("secret"));
    EXPECT_TRUE(envelope.contains("<s:Body><tds:GetProfiles/></s:Body>"));
}

TEST(OnvifReplies, ProfilesWithVaryingPrefixes) {
    const QByteArray body = R"(<?xml version="1.0"?>
<env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope"
 xmlns:m="http://www.onvif.org/ver10/media/wsdl" xmlns:x="http://www.onvif.org/ver10/schema">
<env:Body><m:GetProfilesResponse>
 <m:Profiles token="main" fixed="true"><x:Name>Main</x:Name>
  <x:VideoSourceConfiguration token="vsc"><x:SourceToken>src0</x:SourceToken></x:VideoSourceConfiguration>
  <x:VideoEncoderConfiguration token="e0"><x:Encoding>H264</x:Encoding>
   <x:Resolution><x:Width>1920</x:Width><x:Height>1080</x:Height></x:Resolution></x:VideoEncoderConfiguration>
  <x:PTZConfiguration token="p"/></m:Profiles>
 <Profiles xmlns="http://www.onvif.org/ver10/media/wsdl" token="sub"><Name>Sub</Name>
  <VideoEncoderConfiguration><Encoding>JPEG</Encoding><Resolution><Width>640</Width>
  <Height>360</Height></Resolution></VideoEncoderConfiguration></Profiles>
</m:GetProfilesResponse></env:Body></env:Envelope>)";
    const auto profiles = ParseProfiles(body);
    ASSERT_TRUE(profiles);
    ASSERT_EQ(profiles->size(), 2u);
    EXPECT_EQ((*profiles)[0].token, "main");
    EXPECT_EQ((*profiles)[0].videoSourceToken, "src0");
    EXPECT_EQ((*profiles)[0].width * (*profiles)[0].height, 1920 * 1080);
    EXPECT_TRUE((*profiles)[0].hasPtz);
    EXPECT_EQ((*profiles)[1].encoding, "JPEG");
    EXPECT_FALSE((*profiles)[1].hasPtz);
}

TEST(OnvifReplies, OtherReplies) {
    const auto time = ParseSystemDateAndTime(
        "<E><B><tds:GetSystemDateAndTimeResponse xmlns:tds='d'><UTCDateTime><Date><Year>2030"
        "</Year><Month>5</Month><Day>6</Day></Date><Time><Hour>7</Hour><Minute>8</Minute>"
        "<Second>9</Second></Time></UTCDateTime></tds:GetSystemDateAndTimeResponse></B></E>");
    ASSERT_TRUE(time);
    EXPECT_EQ(*time, QDateTime(QDate(2030, 5, 6), QTime(7, 8, 9), QTimeZone::utc()));

    const auto services = ParseServices(
        "<E><B><Capabilities><Media><XAddr>http://10.0.0.9/media</XAddr></Media>"
        "<PTZ><XAddr>/onvif/ptz</XAddr></PTZ><Imaging><XAddr>ftp://x/i</XAddr></Imaging>"
        "</Capabilities></B></E>");
    ASSERT_TRUE(services);
    EXPECT_EQ(services->media, QUrl("http://10.0.0.9/media"));
    EXPECT_EQ(services->ptz, QUrl("/onvif/ptz"));
    EXPECT_TRUE(services->imaging.isEmpty());

    EXPECT_EQ(ParseStreamUri("<E><MediaUri><Uri>rtsp://cam/s1</Uri></MediaUri></E>"),
              QUrl("rtsp://cam/s1"));
    EXPECT_FALSE(ParseStreamUri("<E><MediaUri><Uri>file:///etc/passwd</Uri></MediaUri></E>"));

    const auto matches = ParseProbeMatches(
        "<s:E xmlns:s='s' xmlns:d='d' xmlns:a='a'><s:B><d:ProbeMatches><d:ProbeMatch>"
        "<a:EndpointReference><a:Address>urn:uuid:1</a:Address></a:EndpointReference>"
        "<d:Scopes>onvif://www.onvif.org/hardware/X100 onvif://www.onvif.org/name/Gate</d:Scopes>"
        "<d:XAddrs>http://10.0.0.9/onvif/device_service</d:XAddrs></d:ProbeMatch>"
        "</d:ProbeMatches></s:B></s:E>");
    ASSERT_TRUE(matches);
    ASSERT_EQ(matches->size(), 1u);
    EXPECT_EQ((*matches)[0].endpoint, "urn:uuid:1");
    EXPECT_EQ((*matches)[0].scopes.size(), 2);

    const auto fault = ParseFault(
        "<env:Envelope xmlns:env='http://www.w3.org/2003/05/soap-envelope' xmlns:ter='t'>"
        "<env:Body><env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode>"
        "<env:Value>ter:NotAuthorized</env:Value></env:Subcode></env:Code><env:Reason>"
        "<env:Text xml:lang='en'>Sender not authorized</env:Text></env:Reason></env:Fault>"
        "</env:Body></env:Envelope>");
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->code, "Sender");
    EXPECT_EQ(fault->subcode, "NotAuthorized");
    EXPECT_EQ(fault->reason, "Sender not authorized");
    // Nested subcodes: the innermost with a value, not an empty one inside it.
    const auto nested = ParseFault(
        "<E><Fault><Code><Value>Sender</Value><Subcode><Value>ter:InvalidArgs</Value><Subcode>"
        "<Value>ter:NotAuthorized</Value><Subcode/></Subcode></Subcode></Code></Fault></E>");
    ASSERT_TRUE(nested);
    EXPECT_EQ(nested->subcode, "NotAuthorized");
}

TEST(OnvifReplies, BoundsRefuseTheReply) {
    QByteArray many = "<E><GetPresetsResponse>";
    for (int i = 0; i <= kMaxPresets; ++i) {
        many += "<Preset token='p" + QByteArray::number(i) + "'/>";
    }
    EXPECT_FALSE(ParsePresets(many + "</GetPresetsResponse></E>"));
    EXPECT_TRUE(
        ParsePresets("<E><GetPresetsResponse><Preset token='a'><Name>Door</Name></Preset>"
                     "</GetPresetsResponse></E>"));
    const QByteArray uri = "<MediaUri><Uri>rtsp://h/t</Uri></MediaUri>";
    EXPECT_TRUE(ParseStreamUri("<E>" + uri + "</E>"));
    EXPECT_FALSE(ParseStreamUri("<E><MediaUri><Uri>rtsp://h/" + QByteArray(kMaxTextChars, 'x') +
                                "</Uri></MediaUri></E>"));
    EXPECT_FALSE(ParseStreamUri("<E>" + QByteArray(kMaxDepth, 'x').replace("x", "<a>") + uri +
                                QByteArray(kMaxDepth, 'x').replace("x", "</a>") + "</E>"));
    EXPECT_FALSE(ParseStreamUri("<E>" + uri + "</E>" + QByteArray(kMaxReplyBytes, ' ')));
    EXPECT_FALSE(ParseStreamUri("<E><MediaUri><Uri>rtsp://h/t</MediaUri></E>"));
}

}  // namespace
}  // namespace kavrel::onvif
