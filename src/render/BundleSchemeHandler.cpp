#include "render/BundleSchemeHandler.h"

#include <QBuffer>
#include <QWebEngineUrlRequestJob>

namespace bopling {

BundleSchemeHandler::BundleSchemeHandler(const QString &root, QObject *parent)
    : QWebEngineUrlSchemeHandler(parent), resolver(root)
{}

void BundleSchemeHandler::requestStarted(QWebEngineUrlRequestJob *job)
{
    BundleResolver::Reply reply = resolver.serve(job->requestUrl());
    switch (reply.status) {
    case BundleResolver::Status::urlInvalid:
        job->fail(QWebEngineUrlRequestJob::UrlInvalid);
        return;
    case BundleResolver::Status::urlNotFound:
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    case BundleResolver::Status::ok:
        break;
    }
    // The engine reads the buffer after this call returns; the job owns it and deletes it
    // with itself.
    auto *buffer = new QBuffer(job);
    buffer->setData(reply.data);
    buffer->open(QIODevice::ReadOnly);
    job->reply(reply.contentType, buffer);
}

} // namespace bopling
