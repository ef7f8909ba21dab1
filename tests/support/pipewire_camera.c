/* A camera node for the real-device bench: one frame size, offered in every
 * format of the command line at that format's own rate at once, the way a
 * webcam lists its modes, so the consumer's choice among them is what gets
 * tested.
 *
 *   pipewire_camera NODE_NAME DESCRIPTION WIDTH HEIGHT FORMAT/FPS...
 *
 * FORMAT is yuy2 or mjpg. The scene comes from the test on fd 0, a stream
 * socket: for every frame this node wants it writes one byte there and reads
 * back one YUY2 frame. So only the rate negotiated here paces the scene, and
 * every frame sent is one the test drew for it (no repeats). MJPEG frames are
 * encoded here. The program ends when fd 0 closes or the server goes away.
 */

#include <errno.h>
#include <fcntl.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <jpeglib.h>
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#define MAX_OFFERS 8

struct offer {
	bool jpeg;
	int fps;
};

struct camera {
	struct pw_main_loop *loop;
	struct pw_stream *stream;
	struct spa_hook stream_listener;
	struct spa_source *timer;
	struct spa_source *input;

	int width, height;
	struct offer offers[MAX_OFFERS];
	int n_offers;

	bool negotiated, streaming;
	bool jpeg;
	int fps;

	/* The test's frame: asked for, being read, or ready to send. */
	uint8_t *frame;
	size_t frame_size, have;
	bool asked, ready;
	uint64_t seq;

	struct jpeg_compress_struct cinfo;
	struct jpeg_error_mgr jerr;
	JSAMPLE *row;
};

static void ask_for_frame(struct camera *cam)
{
	if (cam->asked || cam->ready || !cam->streaming)
		return;
	const char want = 'f';
	ssize_t n;
	do
		n = send(0, &want, 1, MSG_NOSIGNAL);
	while (n < 0 && errno == EINTR);
	if (n == 1) {
		cam->asked = true;
		cam->have = 0;
	}
}

static void on_input(void *data, int fd, uint32_t mask)
{
	struct camera *cam = data;
	(void)mask;
	for (;;) {
		if (!cam->asked) {
			/* Nothing is due: anything readable now is the end. */
			char probe;
			ssize_t n = recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
			if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
				pw_main_loop_quit(cam->loop);
			return;
		}
		ssize_t n = read(fd, cam->frame + cam->have, cam->frame_size - cam->have);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0 && errno == EAGAIN)
			return;
		if (n <= 0) {
			pw_main_loop_quit(cam->loop);
			return;
		}
		cam->have += (size_t)n;
		if (cam->have == cam->frame_size) {
			cam->asked = false;
			cam->ready = true;
		}
	}
}

/* JPEG of the YUY2 frame into out (capacity *size); the JPEG's size in
 * *size, 0 when it did not fit. */
static void encode_jpeg(struct camera *cam, uint8_t *out, size_t *size)
{
	unsigned char *buffer = out;
	unsigned long length = *size;
	jpeg_mem_dest(&cam->cinfo, &buffer, &length);
	jpeg_start_compress(&cam->cinfo, TRUE);
	const size_t stride = (size_t)cam->width * 2;
	while (cam->cinfo.next_scanline < cam->cinfo.image_height) {
		const uint8_t *in = cam->frame + cam->cinfo.next_scanline * stride;
		JSAMPLE *p = cam->row;
		for (int x = 0; x + 1 < cam->width; x += 2, in += 4, p += 6) {
			/* Y0 U Y1 V: the pair shares its U and V. */
			p[0] = in[0], p[1] = in[1], p[2] = in[3];
			p[3] = in[2], p[4] = in[1], p[5] = in[3];
		}
		JSAMPROW rows[1] = { cam->row };
		jpeg_write_scanlines(&cam->cinfo, rows, 1);
	}
	jpeg_finish_compress(&cam->cinfo);
	if (buffer != out) {
		/* It outgrew the buffer: libjpeg moved it to memory of its own. */
		if (length <= *size)
			memcpy(out, buffer, length);
		else
			length = 0;
		free(buffer);
	}
	*size = length;
}

static void on_process(void *data)
{
	struct camera *cam = data;
	/* A tick with no frame of the test's yet is skipped, not repeated. */
	if (!cam->ready || !cam->negotiated)
		return;
	struct pw_buffer *b = pw_stream_dequeue_buffer(cam->stream);
	if (b == NULL)
		return;
	struct spa_buffer *buf = b->buffer;
	struct spa_data *d = &buf->datas[0];
	if (d->data == NULL) {
		pw_stream_queue_buffer(cam->stream, b);
		return;
	}
	size_t size = d->maxsize;
	if (cam->jpeg) {
		encode_jpeg(cam, d->data, &size);
		if (size == 0)
			fprintf(stderr, "pipewire_camera: a JPEG frame is larger than its buffer of %u bytes\n",
				d->maxsize);
		d->chunk->stride = 0;
	} else {
		size = SPA_MIN(cam->frame_size, (size_t)d->maxsize);
		memcpy(d->data, cam->frame, size);
		d->chunk->stride = cam->width * 2;
	}
	d->chunk->offset = 0;
	d->chunk->size = (uint32_t)size;
	d->chunk->flags = 0;
	struct spa_meta_header *h = spa_buffer_find_meta_data(buf, SPA_META_Header, sizeof(*h));
	if (h) {
		struct timespec now;
		clock_gettime(CLOCK_MONOTONIC, &now);
		h->pts = SPA_TIMESPEC_TO_NSEC(&now);
		h->flags = 0;
		h->seq = cam->seq++;
		h->dts_offset = 0;
	}
	pw_stream_queue_buffer(cam->stream, b);
	cam->ready = false;
	ask_for_frame(cam);
}

static void on_timeout(void *data, uint64_t expirations)
{
	struct camera *cam = data;
	(void)expirations;
	pw_stream_trigger_process(cam->stream);
}

static void update_timer(struct camera *cam)
{
	struct pw_loop *loop = pw_main_loop_get_loop(cam->loop);
	if (cam->streaming && cam->negotiated) {
		struct timespec value = { 0, 1 };
		struct timespec interval = { 0, 0 };
		const uint64_t period = SPA_NSEC_PER_SEC / (uint64_t)cam->fps;
		interval.tv_sec = (time_t)(period / SPA_NSEC_PER_SEC);
		interval.tv_nsec = (long)(period % SPA_NSEC_PER_SEC);
		pw_loop_update_timer(loop, cam->timer, &value, &interval, false);
	} else {
		pw_loop_update_timer(loop, cam->timer, NULL, NULL, false);
	}
}

static void on_state_changed(void *data, enum pw_stream_state old, enum pw_stream_state state, const char *error)
{
	struct camera *cam = data;
	(void)old;
	cam->streaming = state == PW_STREAM_STATE_STREAMING;
	switch (state) {
	case PW_STREAM_STATE_ERROR:
		fprintf(stderr, "pipewire_camera: stream error: %s\n", error ? error : "?");
		pw_main_loop_quit(cam->loop);
		break;
	case PW_STREAM_STATE_UNCONNECTED:
		pw_main_loop_quit(cam->loop);
		break;
	default:
		break;
	}
	update_timer(cam);
	ask_for_frame(cam);
}

/* The offer of that format, or NULL. */
static const struct offer *find_offer(struct camera *cam, bool jpeg)
{
	for (int i = 0; i < cam->n_offers; i++)
		if (cam->offers[i].jpeg == jpeg)
			return &cam->offers[i];
	return NULL;
}

static void on_param_changed(void *data, uint32_t id, const struct spa_pod *param)
{
	struct camera *cam = data;
	if (id != SPA_PARAM_Format)
		return;
	cam->negotiated = false;
	if (param == NULL) {
		update_timer(cam);
		return;
	}
	uint32_t media_type, media_subtype;
	if (spa_format_parse(param, &media_type, &media_subtype) < 0 || media_type != SPA_MEDIA_TYPE_video) {
		pw_stream_set_error(cam->stream, -EINVAL, "not a video format");
		return;
	}
	struct spa_rectangle size = { 0, 0 };
	struct spa_fraction rate = { 0, 0 };
	bool jpeg;
	if (media_subtype == SPA_MEDIA_SUBTYPE_mjpg) {
		struct spa_video_info_mjpg info;
		memset(&info, 0, sizeof(info));
		if (spa_format_video_mjpg_parse(param, &info) < 0) {
			pw_stream_set_error(cam->stream, -EINVAL, "unreadable MJPEG format");
			return;
		}
		jpeg = true, size = info.size, rate = info.framerate;
	} else if (media_subtype == SPA_MEDIA_SUBTYPE_raw) {
		struct spa_video_info_raw info;
		memset(&info, 0, sizeof(info));
		if (spa_format_video_raw_parse(param, &info) < 0 || info.format != SPA_VIDEO_FORMAT_YUY2) {
			pw_stream_set_error(cam->stream, -EINVAL, "only YUY2 is offered raw");
			return;
		}
		jpeg = false, size = info.size, rate = info.framerate;
	} else {
		pw_stream_set_error(cam->stream, -EINVAL, "a format that was not offered");
		return;
	}
	const struct offer *offer = find_offer(cam, jpeg);
	if (offer == NULL || (int)size.width != cam->width || (int)size.height != cam->height) {
		pw_stream_set_error(cam->stream, -EINVAL, "a format that was not offered");
		return;
	}
	cam->jpeg = jpeg;
	/* Each format has one rate, so a consumer that left it open gets it. */
	cam->fps = rate.denom && rate.num ? (int)((rate.num + rate.denom - 1) / rate.denom) : offer->fps;
	cam->negotiated = true;
	fprintf(stderr, "pipewire_camera: negotiated %s %dx%d at %d fps\n", jpeg ? "MJPEG" : "YUY2", cam->width,
		cam->height, cam->fps);

	uint8_t buffer[1024];
	struct spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
	const int frame = (int)cam->frame_size;
	const struct spa_pod *params[2];
	/* A JPEG of this scene is far smaller than its YUY2 frame. */
	params[0] = spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers,
		SPA_PARAM_BUFFERS_buffers, SPA_POD_CHOICE_RANGE_Int(4, 2, 8),
		SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
		SPA_PARAM_BUFFERS_size, SPA_POD_Int(frame),
		SPA_PARAM_BUFFERS_stride, SPA_POD_Int(jpeg ? 0 : cam->width * 2),
		SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr)));
	params[1] = spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
		SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
		SPA_PARAM_META_size, SPA_POD_Int(sizeof(struct spa_meta_header)));
	pw_stream_update_params(cam->stream, params, 2);
	update_timer(cam);
}

static const struct pw_stream_events stream_events = {
	PW_VERSION_STREAM_EVENTS,
	.state_changed = on_state_changed,
	.param_changed = on_param_changed,
	.process = on_process,
};

static bool parse_offer(const char *arg, struct offer *offer)
{
	char format[8];
	int fps;
	char end;
	if (sscanf(arg, "%7[a-z0-9]/%d%c", format, &fps, &end) != 2 || fps <= 0 || fps > 1000)
		return false;
	if (strcmp(format, "yuy2") == 0)
		offer->jpeg = false;
	else if (strcmp(format, "mjpg") == 0)
		offer->jpeg = true;
	else
		return false;
	offer->fps = fps;
	return true;
}

int main(int argc, char *argv[])
{
	struct camera cam;
	memset(&cam, 0, sizeof(cam));
	if (argc < 6 || argc - 5 > MAX_OFFERS) {
		fprintf(stderr, "usage: %s NODE_NAME DESCRIPTION WIDTH HEIGHT yuy2/FPS|mjpg/FPS...\n", argv[0]);
		return 2;
	}
	cam.width = atoi(argv[3]);
	cam.height = atoi(argv[4]);
	if (cam.width <= 0 || cam.height <= 0 || cam.width % 2 || cam.width > 8192 || cam.height > 8192) {
		fprintf(stderr, "pipewire_camera: bad size %sx%s\n", argv[3], argv[4]);
		return 2;
	}
	for (int i = 5; i < argc; i++) {
		if (!parse_offer(argv[i], &cam.offers[cam.n_offers])) {
			fprintf(stderr, "pipewire_camera: bad offer %s\n", argv[i]);
			return 2;
		}
		for (int j = 0; j < cam.n_offers; j++)
			if (cam.offers[j].jpeg == cam.offers[cam.n_offers].jpeg) {
				fprintf(stderr, "pipewire_camera: %s offered twice\n", argv[i]);
				return 2;
			}
		cam.n_offers++;
	}
	cam.frame_size = (size_t)cam.width * cam.height * 2;
	cam.frame = malloc(cam.frame_size);
	cam.row = malloc((size_t)cam.width * 3);
	if (cam.frame == NULL || cam.row == NULL)
		return 1;
	fcntl(0, F_SETFL, fcntl(0, F_GETFL) | O_NONBLOCK);

	cam.cinfo.err = jpeg_std_error(&cam.jerr);
	jpeg_create_compress(&cam.cinfo);
	cam.cinfo.image_width = (JDIMENSION)cam.width;
	cam.cinfo.image_height = (JDIMENSION)cam.height;
	cam.cinfo.input_components = 3;
	cam.cinfo.in_color_space = JCS_YCbCr;
	jpeg_set_defaults(&cam.cinfo);
	jpeg_set_quality(&cam.cinfo, 85, TRUE);

	pw_init(&argc, &argv);
	cam.loop = pw_main_loop_new(NULL);
	struct pw_loop *loop = pw_main_loop_get_loop(cam.loop);
	cam.timer = pw_loop_add_timer(loop, on_timeout, &cam);
	cam.input = pw_loop_add_io(loop, 0, SPA_IO_IN | SPA_IO_HUP | SPA_IO_ERR, false, on_input, &cam);
	cam.stream = pw_stream_new_simple(loop, "oculara-camera",
		pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE, "Video",
			PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Camera",
			PW_KEY_NODE_NAME, argv[1], PW_KEY_NODE_DESCRIPTION, argv[2], NULL),
		&stream_events, &cam);

	uint8_t buffer[4096];
	struct spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
	const struct spa_pod *params[MAX_OFFERS];
	const struct spa_rectangle size = SPA_RECTANGLE((uint32_t)cam.width, (uint32_t)cam.height);
	for (int i = 0; i < cam.n_offers; i++) {
		const struct spa_fraction rate = SPA_FRACTION((uint32_t)cam.offers[i].fps, 1);
		if (cam.offers[i].jpeg) {
			struct spa_video_info_mjpg info = { .size = size, .framerate = rate };
			params[i] = spa_format_video_mjpg_build(&b, SPA_PARAM_EnumFormat, &info);
		} else {
			struct spa_video_info_raw info;
			memset(&info, 0, sizeof(info));
			info.format = SPA_VIDEO_FORMAT_YUY2;
			info.size = size;
			info.framerate = rate;
			params[i] = spa_format_video_raw_build(&b, SPA_PARAM_EnumFormat, &info);
		}
	}
	int status = 0;
	if (pw_stream_connect(cam.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
			PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS, params, (uint32_t)cam.n_offers) < 0) {
		fprintf(stderr, "pipewire_camera: cannot connect to PipeWire\n");
		status = 1;
	} else {
		pw_main_loop_run(cam.loop);
	}

	pw_stream_destroy(cam.stream);
	pw_loop_destroy_source(loop, cam.input);
	pw_loop_destroy_source(loop, cam.timer);
	pw_main_loop_destroy(cam.loop);
	pw_deinit();
	jpeg_destroy_compress(&cam.cinfo);
	free(cam.row);
	free(cam.frame);
	return status;
}
