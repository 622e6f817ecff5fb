// THTTPGetThread: one transfer of a fetch controller.

#include "transferworker.h"

THTTPGetThread::THTTPGetThread(const TCrackUrl& Url)
{
    Request.Host = Url.HostName;
    Request.Port = Url.Port;
    Request.Secure = Url.Scheme.Text() == "https";
    Request.UserName = Url.UserName;
    Request.Password = Url.Password;
    Request.Target = RequestTarget(Url.UrlPath, Url.Url());
    Request.AcceptTypes = "*/*";
    TypeRequired = true;
    EmptyBodyFails = true;
}
