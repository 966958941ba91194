// What the sign-in front's Jetty has no setting for, as the plug-ins its
// configuration (signin-front.xml) names: one log line per connection, a
// deadline on the handshake and on each request's headers (Jetty times out
// only a silence, so a byte now and then would hold a connection for good),
// and the Forwarded header beside Jetty's own X-Forwarded-*. The TLS, the
// proxying and the limits are Jetty's. scripts/signin-front starts it.
import java.io.File;
import java.time.Instant;
import java.time.temporal.ChronoUnit;
import java.util.Map;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.TimeUnit;
import javax.net.ssl.SSLEngine;
import javax.net.ssl.SSLException;
import javax.net.ssl.SSLSession;
import javax.servlet.http.HttpServletRequest;
import org.eclipse.jetty.io.Connection;
import org.eclipse.jetty.io.EndPoint;
import org.eclipse.jetty.io.ssl.SslConnection;
import org.eclipse.jetty.io.ssl.SslHandshakeListener;
import org.eclipse.jetty.proxy.ProxyServlet;
import org.eclipse.jetty.server.Connector;
import org.eclipse.jetty.server.HttpChannel;
import org.eclipse.jetty.server.Request;
import org.eclipse.jetty.xml.XmlConfiguration;

public class SigninFront {
    public static void main(String[] args) throws Exception {
        // Started or not, stopped or not, Jetty has read the keystore, its
        // password and the JVM's settings by then: none of them stays on disk.
        Runnable forget = () -> {
            File scratch = new File(System.getProperty("signin.front.scratch"));
            for (File file : scratch.listFiles() == null ? new File[0] : scratch.listFiles()) {
                file.delete();
            }
            scratch.delete();
        };
        Runtime.getRuntime().addShutdownHook(new Thread(forget));
        // The configuration names the classes below, which live in this
        // file's own class loader.
        Thread.currentThread().setContextClassLoader(SigninFront.class.getClassLoader());
        try {
            XmlConfiguration.main(args);
        } catch (Exception e) {
            System.err.println("signin-front: Jetty did not start: " + e);
            System.exit(1);
        }
        forget.run();
    }

    /** The PC's address and the scheme as this front saw them, never as the client claims. */
    public static class Proxy extends ProxyServlet.Transparent {
        @Override
        protected void addXForwardedHeaders(HttpServletRequest client,
                                            org.eclipse.jetty.client.api.Request upstream) {
            for (String name : new String[] {"Forwarded", "X-Forwarded-For", "X-Forwarded-Proto",
                                             "X-Forwarded-Host", "X-Forwarded-Server"}) {
                upstream.header(name, null);
            }
            super.addXForwardedHeaders(client, upstream);
            String pc = client.getRemoteAddr();
            upstream.header("Forwarded", "for=" + (pc.contains(":") ? "\"[" + pc + "]\"" : pc)
                            + ";proto=" + client.getScheme());
        }
    }

    /** Each connection's state, from its opening to its log line. */
    static final class State {
        final SslConnection connection;
        final String pc;
        final long opened = System.nanoTime();
        volatile int requests;
        volatile boolean busy;
        volatile boolean cut;
        volatile String refused;

        State(SslConnection connection) {
            this.connection = connection;
            pc = connection.getEndPoint().getRemoteAddress().getAddress().getHostAddress();
        }
    }

    public static class Connections
            implements Connection.Listener, SslHandshakeListener, HttpChannel.Listener {
        private final Connector connector;
        private final long deadline;
        private final Map<SSLEngine, State> states = new ConcurrentHashMap<>();

        public Connections(Connector connector, int deadlineSeconds) {
            this.connector = connector;
            this.deadline = deadlineSeconds;
        }

        /** From now, the handshake or the next request's headers have `deadline` seconds. */
        private void arm(State state) {
            int seen = state.requests;
            connector.getScheduler().schedule(() -> {
                EndPoint point = state.connection.getEndPoint();
                if (state.requests == seen && !state.busy && point.isOpen()) {
                    state.cut = true;
                    point.close();
                }
            }, deadline, TimeUnit.SECONDS);
        }

        private State of(Request request) {
            EndPoint point = request.getHttpChannel().getEndPoint();
            return point instanceof SslConnection.DecryptedEndPoint
                    ? states.get(((SslConnection.DecryptedEndPoint) point).getSslConnection()
                                 .getSSLEngine()) : null;
        }

        @Override
        public void onOpened(Connection connection) {
            if (connection instanceof SslConnection) {
                State state = new State((SslConnection) connection);
                states.put(state.connection.getSSLEngine(), state);
                arm(state);
            }
        }

        @Override
        public void handshakeFailed(Event event, Throwable failure) {
            State state = states.get(event.getSSLEngine());
            // Java's reason for a refusal; Jetty's own SSLHandshakeException,
            // without one, only tells of a client gone in the handshake.
            for (Throwable why = failure; state != null && why != null; why = why.getCause()) {
                if (why instanceof SSLException && why.getMessage() != null) {
                    state.refused = why.getMessage();
                    break;
                }
            }
        }

        @Override
        public void onRequestBegin(Request request) {
            State state = of(request);
            if (state != null) {
                state.busy = true;
                state.requests++;
            }
        }

        @Override
        public void onComplete(Request request) {
            State state = of(request);
            if (state != null) {
                state.busy = false;
                arm(state);
            }
        }

        @Override
        public void onClosed(Connection connection) {
            State state = connection instanceof SslConnection
                    ? states.remove(((SslConnection) connection).getSSLEngine()) : null;
            if (state == null) {
                return;
            }
            SSLSession session = state.connection.getSSLEngine().getSession();
            boolean agreed = !session.getCipherSuite().equals("SSL_NULL_WITH_NULL_NULL");
            String cut = "cut at the " + deadline + " s deadline";
            String outcome = state.refused != null ? "handshake refused (" + state.refused + ")"
                    : !agreed ? (state.cut ? "handshake " + cut : "closed in the handshake")
                    : plural(state.requests) + (state.cut ? ", then " + cut : "");
            long tenths = (System.nanoTime() - state.opened) / 100_000_000;
            System.out.println(Instant.now().truncatedTo(ChronoUnit.SECONDS) + " " + state.pc + " "
                    + (agreed ? session.getProtocol() + " " + session.getCipherSuite() : "- -")
                    + " " + outcome + ", " + tenths / 10 + "." + tenths % 10 + " s");
        }

        private static String plural(int requests) {
            return requests + (requests == 1 ? " request" : " requests");
        }
    }
}
